#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "basics/MutLockArray.h"
#include "basics/MutLockDict.h"
#include "basics/MutNRLockArray.h"
#include "support/Waiting.h"
#include "support/TestJar.h"

using namespace vitrine;
using vitrine::testing::jar;
using vitrine::testing::TestJar;
using namespace std::chrono_literals;
using vitrine::test::waitUntil;

namespace {

using JarArray = MutLockArray<TestJar>;
using Jars = JarArray::Array;

// Calls read over and over on `readers` threads while write(w, i) runs 1000 times on each of
// `writers` threads.
void race(int readers, const std::function<void()>& read, int writers,
          const std::function<void(int, int)>& write) {
    std::atomic<int> writing{writers};
    std::vector<std::jthread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < 1000; ++i) write(w, i);
            --writing;
        });
    }
    for (int r = 0; r < readers; ++r) {
        threads.emplace_back([&] {
            while (writing > 0) {
                read();
                std::this_thread::yield();  // readers-first locks would otherwise starve writers
            }
        });
    }
}

}  // namespace

TEST(LockedCollectionsThreads, ReadersSeeOnlyWholeLiveElementsWhileWritersChangeAnArray) {
    auto array = JarArray::arrayWithCapacity(0);
    auto source = JarArray::arrayWithCapacity(0);
    source->lockAddObjectsFromArray(Jars{jar("s1"), jar("s2")});
    std::atomic<int> badReads{0};
    const auto read = [&] {
        for (const auto& j : array->lockCreateArrayCopy()) badReads += !j || !j->alive;
        if (auto first = array->lockObjectAtIndex(0)) badReads += first->name.empty();
        array->lockIndexOfObject(jar("s1"));
        array->rdlock();
        for (const auto& j : array->array()) badReads += !j;
        array->unlock();
    };
    race(3, read, 2, [&](int w, int i) {
        if (w == 0) {
            array->lockAddObject(jar("w" + std::to_string(i % 7)));
            array->lockInsertObject(jar("i"), 0);
            array->lockRemoveObject(jar("w3"));
            if (i % 50 == 0) array->lockReplaceWithObjectsFromArray(source);
            if (array->lockCount() > 40) array->lockRemoveFirstObject();
        } else {
            source->lockAddObject(jar("s" + std::to_string(i % 3)));
            array->lockAddObjectsFromArray(source);  // receiver's write lock, then source's read
            source->lockRemoveLastObject();
            if (i % 10 == 0) array->lockSortUsingSelector(&TestJar::compare);
            const IndexSet front{0, 1};
            array->lockRemoveObjectsAtIndexes(&front);
        }
    });
    EXPECT_EQ(badReads, 0);
}

TEST(LockedCollectionsThreads, ReadersSeeOnlyWholeLiveValuesWhileWritersChangeADictionary) {
    MutLockDict<TestJar> dict;
    std::atomic<int> badReads{0};
    const auto read = [&] {
        for (const auto& value : dict.lockAllValues()) badReads += !value || !value->alive;
        if (auto found = dict.lockObjectForKey("k1")) badReads += found->name != "k1";
        dict.lockAllKeys();
        dict.lockMakeObjectsPerformSelector([](TestJar& j) { (void)j.name.size(); });
    };
    race(3, read, 2, [&](int w, int i) {
        const std::string key = "k" + std::to_string(i % 5);
        dict.lockSetObject(jar(key), key);
        if (i % 3 == w) dict.lockRemoveObjectForKey(key);
        const MutLockDict<TestJar>::Map more{{"m", jar("m")}};
        dict.lockAddEntriesFromDictionary(&more);
    });
    EXPECT_EQ(badReads, 0);
}

// Weakly held delegates die on the writer's thread while others dispatch to the live ones: a
// dispatched-to object is always alive, and dead entries are only skipped.
TEST(LockedCollectionsThreads, WeakEntriesDieWhileOthersDispatch) {
    MutNRLockArray<TestJar> delegates;
    delegates.setZwrFlag(true);
    std::atomic<int> deadCalls{0};
    std::vector<std::shared_ptr<TestJar>> owned;
    const auto read = [&] {
        delegates.lockBruteForceMakeObjectsPerformSelector(
            [&](TestJar& j) { deadCalls += !j.alive; });
        for (const auto& j : delegates.lockCreateArrayCopyFromObjects()) deadCalls += !j->alive;
        delegates.lockIndexOfObject(jar("nobody"));
    };
    race(2, read, 1, [&](int, int i) {
        owned.push_back(jar("d" + std::to_string(i)));
        delegates.lockAddObject(owned.back());
        if (owned.size() > 8) owned.erase(owned.begin());  // dies while readers may hold a share
        if (i % 100 == 99) {
            delegates.wrlock();
            std::erase_if(delegates.array(), [](const auto& h) { return !h->object(); });
            delegates.unlock();
        }
    });
    EXPECT_EQ(deadCalls, 0);
    EXPECT_EQ(delegates.lockCreateArrayCopyFromObjects().size(), 8u);
}

// Locked forms test their arguments before locking: with a null argument they return even while
// another thread holds the write lock.
TEST(LockedCollectionsThreads, NullArgumentsReturnWithoutWaitingForTheLock) {
    JarArray array;
    MutLockDict<TestJar> dict;
    std::atomic<bool> locked{false}, done{false};
    std::jthread holder([&] {
        array.wrlock();
        dict.wrlock();
        locked = true;
        EXPECT_TRUE(waitUntil([&] { return done.load(); }, 10s)) << "a null argument waited";
        dict.unlock();
        array.unlock();
    });
    while (!locked) std::this_thread::yield();
    array.lockAddObject(nullptr);
    EXPECT_FALSE(array.lockInsertObject(nullptr, 0));
    EXPECT_EQ(array.lockIndexOfObject(nullptr), kNullObjectIndex);
    EXPECT_FALSE(array.lockContainsIdenticalPtr(nullptr));
    array.lockReplaceWithObjectsFromArray(std::shared_ptr<JarArray>());
    array.lockRemoveIdenticalPtrsInArray(nullptr);
    EXPECT_EQ(array.lockObjectsAtIndexes(nullptr), std::nullopt);
    dict.lockRemoveObjectForKey(std::nullopt);
    dict.lockAddEntriesFromDictionary(nullptr);
    done = true;
}
