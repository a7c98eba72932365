#include <gtest/gtest.h>

#include <barrier>
#include <thread>

#include "external/KBZeroingWeakRef/Source/XJ_KBZeroingWeakRef.h"
#include "support/TestJar.h"

using namespace vitrine;
using namespace vitrine::testing;
using Ref = XJ_KBZeroingWeakRef;

// One thread drops the last outside share while another keeps reading target(): every read is
// either null or an object that stays alive while the reader holds it, and the cleanup runs
// exactly once per round, on whichever thread ends up destroying the object.
TEST(ZeroingWeakRefThreads, TargetRacingTheLastReleaseNeverYieldsADyingObject) {
    constexpr int kRounds = 3000;
    std::shared_ptr<TestJar> owner;
    std::shared_ptr<Ref> ref;
    std::atomic<int> cleanups{0}, deadReads{0};
    std::barrier sync(3);
    const auto rounds = [&](auto body) {
        return std::jthread([&, body] {
            for (int round = 0; round < kRounds; ++round) {
                sync.arrive_and_wait();
                body();
                sync.arrive_and_wait();
            }
        });
    };
    std::jthread releaser = rounds([&] { owner.reset(); });
    std::jthread reader = rounds([&] {
        while (const std::shared_ptr<TestJar> seen = ref->targetAs<TestJar>()) {
            deadReads += !seen->alive;
            std::this_thread::yield();
            deadReads += !seen->alive;
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        owner = jar("round");
        ref = Ref::refWithTarget(owner);
        ref->setCleanupBlock([&](XJObject*) { ++cleanups; });
        sync.arrive_and_wait();
        sync.arrive_and_wait();
        ASSERT_EQ(cleanups.load(), round + 1);
        ASSERT_EQ(ref->target(), nullptr);
    }
    releaser.join();
    reader.join();
    ref.reset();
    EXPECT_EQ(deadReads.load(), 0);
    EXPECT_EQ(Ref::_registeredTargetCount(), 0u);
}

// References destroyed on one thread while their target dies on another: no cleanup of a
// destroyed reference runs after its destruction, surviving references run theirs exactly once.
TEST(ZeroingWeakRefThreads, ReferencesDestroyedWhileTheirTargetDies) {
    for (int round = 0; round < 2000; ++round) {
        auto target = jar("t");
        std::vector<std::shared_ptr<Ref>> refs(4);
        std::vector<std::atomic<int>> runs(4);
        for (int i = 0; i < 4; ++i) {
            refs[i] = Ref::refWithTarget(target);
            refs[i]->setCleanupBlock([&runs, i](XJObject*) { ++runs[i]; });
        }
        {
            std::jthread killer([&] { target.reset(); });
            std::jthread dropper([&] { refs[0].reset(), refs[1].reset(); });
        }
        ASSERT_TRUE(runs[0] <= 1 && runs[1] <= 1 && runs[2] == 1 && runs[3] == 1) << round;
    }
    EXPECT_EQ(Ref::_registeredTargetCount(), 0u);
}
