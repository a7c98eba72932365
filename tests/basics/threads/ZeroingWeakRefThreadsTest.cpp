#include <gtest/gtest.h>

#include <latch>
#include <thread>

#include "external/KBZeroingWeakRef/Source/XJ_KBZeroingWeakRef.h"
#include "support/TestJar.h"

using namespace vitrine;
using namespace vitrine::testing;
using Ref = XJ_KBZeroingWeakRef;

// The last outside share is dropped while another thread keeps reading target(): every read is
// either null or an object that stays alive while the reader holds it, and the cleanup runs
// exactly once per round, on whichever thread ends up destroying the object.
TEST(ZeroingWeakRefThreads, TargetRacingTheLastReleaseNeverYieldsADyingObject) {
    std::atomic<int> cleanups{0}, deadReads{0};
    for (int round = 0; round < 2000; ++round) {
        auto owner = jar("round");
        auto ref = Ref::refWithTarget(owner);
        ref->setCleanupBlock([&](XJObject*) { ++cleanups; });
        std::latch reading(1);
        std::jthread reader([&] {
            reading.count_down();
            while (const auto seen = ref->targetAs<TestJar>()) {  // no share kept across reads
                deadReads += !seen->alive;
                std::this_thread::yield();
                deadReads += !seen->alive;
            }
        });
        reading.wait();
        owner.reset();
        reader.join();
        ASSERT_EQ(cleanups.load(), round + 1);
        ASSERT_EQ(ref->target(), nullptr);
    }
    EXPECT_EQ(deadReads.load(), 0);
    EXPECT_EQ(Ref::_registeredTargetCount(), 0u);
}
