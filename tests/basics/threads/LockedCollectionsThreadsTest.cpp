#include <gtest/gtest.h>

#include <thread>

#include "basics/MutLockArray.h"
#include "basics/MutLockDict.h"
#include "support/TestJar.h"
#include "support/Waiting.h"

using namespace vitrine;
using namespace vitrine::testing;
using namespace std::chrono_literals;

using JarArray = MutLockArray<TestJar>;
using JarDict = MutLockDict<TestJar>;

// Weakly held lists dying while others dispatch are raced by the address space's thread test,
// whose delegates are such a list.
TEST(LockedCollectionsThreads, ReadersSeeOnlyWholeLiveElementsWhileWritersChangeTheCollections) {
    auto array = JarArray::arrayWithCapacity(0);
    auto source = JarArray::arrayWithCapacity(0);
    source->lockAddObjectsFromArray(JarArray::Array{jar("s1"), jar("s2")});
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
                    array->lockAddObject(jar("w" + std::to_string(i % 7)));
                    array->lockInsertObject(jar("i"), 0);
                    array->lockRemoveObject(jar("w3"));
                    if (i % 50 == 0) array->lockReplaceWithObjectsFromArray(source);
                    if (array->lockCount() > 40) array->lockRemoveFirstObject();
                } else {
                    source->lockAddObject(jar("s" + std::to_string(i % 3)));
                    array->lockAddObjectsFromArray(source);  // our write lock, then its read lock
                    source->lockRemoveLastObject();
                    if (i % 10 == 0) array->lockSortUsingSelector(&TestJar::compare);
                    const IndexSet front{0, 1};
                    array->lockRemoveObjectsAtIndexes(&front);
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
                array->lockIndexOfObject(jar("s1"));
                for (const auto& value : dict.lockAllValues()) badReads += !value->alive;
                if (auto found = dict.lockObjectForKey("k1")) badReads += found->name != "k1";
                dict.lockMakeObjectsPerformSelector([](TestJar& j) { (void)j.name.size(); });
                std::this_thread::yield();  // readers-first locks would otherwise starve writers
            }
        });
    }
    threads.clear();
    EXPECT_EQ(badReads, 0);
}

// Locked forms test their arguments before locking: with a null argument they return even while
// another thread holds the write lock.
TEST(LockedCollectionsThreads, NullArgumentsReturnWithoutWaitingForTheLock) {
    JarArray array;
    JarDict dict;
    std::atomic<bool> locked{false}, done{false};
    std::jthread holder([&] {
        array.wrlock();
        dict.wrlock();
        locked = true;
        EXPECT_TRUE(vitrine::test::waitUntil([&] { return done.load(); }, 10s))
            << "a null argument waited";
        dict.unlock();
        array.unlock();
    });
    while (!locked) std::this_thread::yield();
    array.lockAddObject(nullptr);
    EXPECT_FALSE(array.lockInsertObject(nullptr, 0));
    EXPECT_EQ(array.lockIndexOfObject(nullptr), kNullObjectIndex);
    array.lockReplaceWithObjectsFromArray(std::shared_ptr<JarArray>());
    EXPECT_EQ(array.lockObjectsAtIndexes(nullptr), std::nullopt);
    dict.lockRemoveObjectForKey(std::nullopt);
    dict.lockAddEntriesFromDictionary(nullptr);
    done = true;
}
