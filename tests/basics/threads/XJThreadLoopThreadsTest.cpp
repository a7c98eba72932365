#include <gtest/gtest.h>

#include <latch>
#include <mutex>
#include <set>
#include <stdexcept>
#include <utility>

#include "basics/Log.h"
#include "basics/XJAssertionHandler.h"
#include "basics/XJThreadLoop.h"
#include "support/Waiting.h"

using namespace vitrine;
using namespace std::chrono_literals;
using vitrine::test::waitUntil;
using Clock = std::chrono::steady_clock;

namespace loop_test {

// A named callable, so the log line's target class is predictable.
struct ThrowingPass {
    std::atomic<int>* passes;
    void operator()() const {
        ++*passes;
        throw std::runtime_error("boom");
    }
};

}  // namespace loop_test

namespace {

// A specialisation without callback whose passes throw and whose priority request is refused.
struct RefusedLoop : XJThreadLoop {
    RefusedLoop() : XJThreadLoop(0.01) {}
    std::atomic<int> passes{0};
    void threadProc() override {
        ++passes;
        throw std::runtime_error("sub boom");
    }
    bool raiseThreadPriority() override { return false; }
};

// A loop of `interval` seconds counting its passes, the sleep capped at a minute.
std::shared_ptr<XJThreadLoop> counting(double interval, std::atomic<int>& passes) {
    auto loop = XJThreadLoop::createWithTimeInterval(interval, [&passes] { ++passes; });
    loop->setMaxInterval(60.0);
    return loop;
}

}  // namespace

// Timings in whole seconds: the interval is one second and the second pass works for two.
TEST(XJThreadLoopThreads, PassesStartAnIntervalApartCappedByMaxIntervalAndOverrunsDoNotSleep) {
    EXPECT_FALSE(XJThreadLoop::createWithTimeInterval(0.1, nullptr));
    std::vector<Clock::time_point> starts;  // written on the loop's thread, read after it ended
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(1.0, [&] {
        starts.push_back(Clock::now());
        // The overrun is the work of the pass: it lasts until two intervals have gone by.
        if (++passes == 2) waitUntil([&] { return Clock::now() - starts[1] >= 2s; });
    });
    loop->setInterval(3.0);  // above maxInterval, 1 s by default
    EXPECT_DOUBLE_EQ(loop->interval(), 1.0);
    loop->start();
    ASSERT_TRUE(waitUntil([&] { return passes >= 3; }, 30s));
    loop->stopAndWaitUntilDone();
    EXPECT_GE(starts[1] - starts[0], 990ms);
    EXPECT_LT(starts[2] - starts[1], 2500ms);  // 3 s if the overrun were followed by a sleep
    // A sleep never exceeds maxInterval: 50 passes of an hour's interval within the deadline.
    passes = 0;
    auto capped = counting(3600.0, passes);
    capped->setMaxInterval(0.001);
    capped->start();
    EXPECT_TRUE(waitUntil([&] { return passes >= 50; }, 10s));
    capped->stopAndWaitUntilDone();  // its thread holds a share: dropping ours would not stop it
}

// A failed pass goes straight on (a sleep would take a minute); the log names the callable's
// class, or gives the short form for a specialisation, whose refused priority is logged per run.
TEST(XJThreadLoopThreads, ThrowingPassesAreLoggedAndSkipTheSleep) {
    LogCapture capture;
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(60.0, loop_test::ThrowingPass{&passes});
    loop->setMaxInterval(60.0);
    loop->start();
    ASSERT_TRUE(waitUntil([&] { return passes >= 10; }, 10s));
    loop->stopAndWaitUntilDone();
    const std::string caught = "\t\t-[XJThreadLoop threadCallback] caught exception ";
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>(passes.load(), caught + "boom on " + loop->description() +
                                                          ", target is loop_test::ThrowingPass"));
    LogCapture sub;
    auto refused = std::make_shared<RefusedLoop>();
    for (int run = 0; run < 2; ++run) {
        const int before = refused->passes;
        refused->start();
        ASSERT_TRUE(waitUntil([&] { return refused->passes >= before + 3; }, 10s));
        refused->stopAndWaitUntilDone();
    }
    const std::string priority = "\terror setting thread priority to 1.0";
    EXPECT_EQ(sub.count(priority), 2u);
    EXPECT_EQ(sub.lines()[0], priority);
    EXPECT_EQ(sub.lines()[1], caught + "sub boom on " + refused->description());
}

// Odd rounds stop from another thread, racing the new thread's first steps; a stop that waited
// for the minute's sleep would miss the deadline.
TEST(XJThreadLoopThreads, StopRightAfterStartAlwaysEndsTheRunAndCutsItsSleepShort) {
    std::atomic<int> passes{0};
    auto loop = counting(60.0, passes);
    for (int i = 0; i < 150; ++i) {
        loop->start();
        if (i % 2) {
            std::jthread([&] { loop->stop(); }).join();
        } else {
            loop->stop();
        }
        ASSERT_TRUE(waitUntil([&] { return !loop->running(); }, 10s)) << "lost stop in round " << i;
    }
    EXPECT_GE(passes, 1);
}

TEST(XJThreadLoopThreads, ConcurrentStartsLaunchOneThread) {
    std::mutex lock;
    std::set<std::thread::id> threads;
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(0.001, [&] {
        std::scoped_lock guard(lock);
        threads.insert(std::this_thread::get_id());
        ++passes;
    });
    for (int round = 0; round < 20; ++round) {
        std::latch go(3);
        std::vector<std::jthread> starters(3);
        for (auto& s : starters) s = std::jthread([&] { go.arrive_and_wait(), loop->start(); });
        starters.clear();
        // Enough passes for a second thread, had one been launched, to have made its own.
        const int before = passes;
        ASSERT_TRUE(waitUntil([&] { return passes >= before + 6; }, 10s));
        loop->stopAndWaitUntilDone();
        std::scoped_lock guard(lock);
        EXPECT_EQ(std::exchange(threads, {}).size(), 1u) << "round " << round;
    }
}

// A loop left to itself: its thread has an assertion handler of its own, holds the last share
// of the loop and drops it on the way out without trying to join itself.
TEST(XJThreadLoopThreads, LoopWithoutOutsideSharesLogsAssertionsAndEndsByItself) {
    LogCapture capture;
    std::atomic<int> passes{0};
    std::weak_ptr<XJThreadLoop> weak;
    {
        auto loop = XJThreadLoop::createWithTimeInterval(0.01, [&] {
            XJAssert(++passes > 1, "loop check %d", passes.load());
            if (passes == 3) weak.lock()->stop();
        });
        weak = loop;
        loop->start();
    }
    ASSERT_TRUE(waitUntil([&] { return weak.expired(); }, 10s));
    EXPECT_EQ(passes, 3);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], "loop check 1");
}

// Neither start nor stopAndWaitUntilDone from the callback may wait for a thread that is itself
// joining the loop's.
TEST(XJThreadLoopThreads, CallbackMayStartAndStopItsOwnLoopWhileOthersWaitForIt) {
    std::weak_ptr<XJThreadLoop> weak;
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(0.001, [&] {
        ++passes;
        if (auto self = weak.lock()) self->start(), self->stopAndWaitUntilDone();
    });
    weak = loop;
    for (int round = 0; round < 100; ++round) {
        loop->start();
        loop->stopAndWaitUntilDone();
        EXPECT_FALSE(loop->running());
    }
    EXPECT_GE(passes, 100);
}
