#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "basics/MutLockArray.h"
#include "basics/MutLockDict.h"
#include "basics/MutNRLockArray.h"
#include "support/TestJar.h"

using namespace vitrine;
using vitrine::testing::jar;
using vitrine::testing::TestJar;

namespace {

using JarArray = MutLockArray<TestJar>;
using Jars = JarArray::Array;

void runAll(std::vector<std::thread>& threads) {
    for (auto& t : threads) t.join();
}

}  // namespace

TEST(LockedCollectionsThreads, ReadersAndWritersOnAnArray) {
    constexpr int kWrites = 1000;
    auto array = JarArray::arrayWithCapacity(0);
    auto source = JarArray::arrayWithCapacity(0);
    source->lockAddObjectsFromArray(Jars{jar("s1"), jar("s2")});
    std::atomic<bool> writing{true};
    std::atomic<int> badReads{0};
    std::vector<std::thread> threads;

    for (int r = 0; r < 3; ++r) {
        threads.emplace_back([&] {
            while (writing.load()) {
                for (const auto& j : array->lockCreateArrayCopy()) {
                    if (!j || !j->alive.load()) badReads.fetch_add(1);
                }
                if (auto first = array->lockObjectAtIndex(0); first && first->name.empty()) {
                    badReads.fetch_add(1);
                }
                array->lockIndexOfObject(jar("s1"));
                array->rdlock();
                for (const auto& j : array->array()) {
                    if (!j) badReads.fetch_add(1);
                }
                array->unlock();
                source->lockCount();
                std::this_thread::yield();  // readers-first locks would otherwise starve writers
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < kWrites; ++i) {
            array->lockAddObject(jar("w" + std::to_string(i % 7)));
            array->lockInsertObject(jar("i"), 0);
            array->lockRemoveObject(jar("w3"));
            if (i % 50 == 0) array->lockReplaceWithObjectsFromArray(source);
            if (array->lockCount() > 40) array->lockRemoveFirstObject();
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < kWrites; ++i) {
            source->lockAddObject(jar("s" + std::to_string(i % 3)));
            array->lockAddObjectsFromArray(source);  // receiver's write lock, then source's read
            source->lockRemoveLastObject();
            if (i % 10 == 0) array->lockSortUsingSelector(&TestJar::compare);
            array->lockRemoveObjectsAtIndexes(nullptr);
            const IndexSet front{0, 1};
            array->lockRemoveObjectsAtIndexes(&front);
        }
        writing.store(false);
    });
    runAll(threads);
    EXPECT_EQ(badReads.load(), 0);
}

TEST(LockedCollectionsThreads, ReadersAndWritersOnADictionary) {
    constexpr int kWrites = 1000;
    MutLockDict<TestJar> dict;
    std::atomic<bool> writing{true};
    std::atomic<int> badReads{0};
    std::vector<std::thread> threads;
    for (int r = 0; r < 3; ++r) {
        threads.emplace_back([&] {
            while (writing.load()) {
                for (const auto& value : dict.lockAllValues()) {
                    if (!value || !value->alive.load()) badReads.fetch_add(1);
                }
                if (auto found = dict.lockObjectForKey("k1"); found && found->name != "k1") {
                    badReads.fetch_add(1);
                }
                dict.lockAllKeys();
                dict.lockMakeObjectsPerformSelector([](TestJar& j) { (void)j.name.size(); });
                std::this_thread::yield();
            }
        });
    }
    for (int w = 0; w < 2; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < kWrites; ++i) {
                const std::string key = "k" + std::to_string(i % 5);
                dict.lockSetObject(jar(key), key);
                if (i % 3 == w) dict.lockRemoveObjectForKey(key);
                const MutLockDict<TestJar>::Map more{{"m", jar("m")}};
                dict.lockAddEntriesFromDictionary(&more);
            }
            if (w == 0) writing.store(false);
        });
    }
    runAll(threads);
    EXPECT_EQ(badReads.load(), 0);
}

// Locked forms test their arguments before locking: with a null argument they return even while
// another thread holds the write lock.
TEST(LockedCollectionsThreads, NullArgumentsReturnWithoutWaitingForTheLock) {
    JarArray array;
    MutLockDict<TestJar> dict;
    std::atomic<bool> locked{false};
    std::atomic<bool> done{false};
    std::atomic<bool> releasedBeforeDone{false};
    std::thread holder([&] {
        array.wrlock();
        dict.wrlock();
        locked.store(true);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done.load() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        releasedBeforeDone.store(!done.load());
        dict.unlock();
        array.unlock();
    });
    while (!locked.load()) std::this_thread::yield();
    array.lockAddObject(nullptr);
    EXPECT_FALSE(array.lockInsertObject(nullptr, 0));
    EXPECT_EQ(array.lockIndexOfObject(nullptr), kNullObjectIndex);
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(nullptr), kNotFoundIndex);
    EXPECT_FALSE(array.lockContainsObject(nullptr));
    array.lockAddObjectsFromArray(nullptr);
    array.lockReplaceWithObjectsFromArray(std::shared_ptr<JarArray>());
    array.lockRemoveIdenticalPtrsInArray(nullptr);
    EXPECT_EQ(array.lockObjectsAtIndexes(nullptr), std::nullopt);
    dict.lockRemoveObjectForKey(std::nullopt);
    dict.lockAddEntriesFromDictionary(nullptr);
    done.store(true);
    holder.join();
    EXPECT_FALSE(releasedBeforeDone.load());
}

// Weakly held delegates die on their own threads while others add delegates and dispatch to the
// live ones: a dispatched-to object is always alive, and dead entries are only skipped.
TEST(LockedCollectionsThreads, WeakEntriesDieWhileOthersDispatch) {
    constexpr int kObjects = 1500;
    MutNRLockArray<TestJar> delegates;
    delegates.setZwrFlag(true);
    std::atomic<bool> running{true};
    std::atomic<int> deadCalls{0};
    std::vector<std::thread> threads;
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&] {
            while (running.load()) {
                delegates.lockBruteForceMakeObjectsPerformSelector([&](TestJar& j) {
                    if (!j.alive.load()) deadCalls.fetch_add(1);
                });
                for (const auto& j : delegates.lockCreateArrayCopyFromObjects()) {
                    if (!j->alive.load()) deadCalls.fetch_add(1);
                }
                delegates.lockIndexOfObject(jar("nobody"));
                std::this_thread::yield();
            }
        });
    }
    threads.emplace_back([&] {
        std::vector<std::shared_ptr<TestJar>> owned;
        for (int i = 0; i < kObjects; ++i) {
            auto d = jar("d" + std::to_string(i));
            if (delegates.lockIndexOfIdenticalPtr(d.get()) == kNotFoundIndex) {
                delegates.lockAddObject(d);
            }
            owned.push_back(std::move(d));
            if (owned.size() > 8) {
                // Dies here while readers may hold a share of it.
                owned.erase(owned.begin());
            }
            if (i % 100 == 99) {
                delegates.wrlock();
                std::erase_if(delegates.array(), [](const auto& h) { return !h->object(); });
                delegates.unlock();
            }
        }
        running.store(false);
    });
    runAll(threads);
    EXPECT_EQ(deadCalls.load(), 0);
    EXPECT_LE(delegates.lockCreateArrayCopyFromObjects().size(), 8u);
}
