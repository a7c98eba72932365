#include <gtest/gtest.h>

#include <thread>

#include "basics/MutLockArray.h"
#include "basics/MutLockDict.h"
#include "support/TestJar.h"

using namespace vitrine;
using namespace vitrine::testing;

using JarArray = MutLockArray<TestJar>;
using JarDict = MutLockDict<TestJar>;

// Weakly held lists dying while others dispatch are raced by the address space's thread test,
// whose delegates are such a list.
TEST(LockedCollectionsThreads, ReadersSeeOnlyWholeLiveElementsWhileWritersChangeTheCollections) {
    auto array = JarArray::arrayWithCapacity(0), source = JarArray::arrayWithCapacity(0);
    JarDict dict;
    std::atomic<int> badReads{0}, writing{2};
    std::vector<std::jthread> threads;
    for (int w = 0; w < 2; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < 1000; ++i) {
                const std::string key = "k" + std::to_string(i % 5);
                dict.lockSetObject(jar(key), key);
                if (i % 3 == w) dict.lockRemoveObjectForKey(key);
                if (w == 0) {
                    array->lockInsertObject(jar("w" + std::to_string(i % 7)), 0);
                    array->lockRemoveObject(jar("w3"));
                    if (i % 50 == 0) array->lockReplaceWithObjectsFromArray(source);
                    if (array->lockCount() > 40) array->lockRemoveLastObject();
                } else {
                    source->lockAddObject(jar("s" + std::to_string(i % 3)));
                    array->lockAddObjectsFromArray(source);  // our write lock, then its read lock
                    if (source->lockCount() > 4) source->lockRemoveFirstObject();
                    if (i % 10 == 0) array->lockSortUsingSelector(&TestJar::compare);
                }
            }
            --writing;
        });
    }
    for (int r = 0; r < 3; ++r) {
        threads.emplace_back([&] {
            while (writing > 0) {
                for (const auto& j : array->lockCreateArrayCopy()) badReads += !j || !j->alive;
                if (auto first = array->lockObjectAtIndex(0)) badReads += first->name.empty();
                for (const auto& value : dict.lockAllValues()) badReads += !value->alive;
                if (auto found = dict.lockObjectForKey("k1")) badReads += found->name != "k1";
                std::this_thread::yield();  // readers-first locks would otherwise starve writers
            }
        });
    }
    threads.clear();
    EXPECT_EQ(badReads, 0);
}
