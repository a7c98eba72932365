#include <gtest/gtest.h>

#include <latch>
#include <mutex>
#include <set>
#include <stdexcept>

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

}  // namespace

// Timings in whole seconds: the interval is one second, the overrun one more.
TEST(XJThreadLoopThreads, PassesStartAnIntervalApartCappedByMaxIntervalAndOverrunsDoNotSleep) {
    EXPECT_FALSE(XJThreadLoop::createWithTimeInterval(0.1, nullptr));
    std::vector<Clock::time_point> starts;  // written on the loop's thread, read after it ended
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(1.0, [&] {
        starts.push_back(Clock::now());
        if (++passes == 2) std::this_thread::sleep_for(2s);  // the work of an overrunning pass
    });
    EXPECT_DOUBLE_EQ(loop->maxInterval(), 1.0);
    loop->setInterval(3.0);
    EXPECT_DOUBLE_EQ(loop->interval(), 1.0);
    loop->setMaxInterval(5.0);
    EXPECT_DOUBLE_EQ(loop->interval(), 1.0);
    loop->start();
    ASSERT_TRUE(waitUntil([&] { return passes >= 3; }, 30s));
    loop->stopAndWaitUntilDone();
    EXPECT_GE(starts[1] - starts[0], 990ms);
    EXPECT_LT(starts[2] - starts[1], 2500ms);  // 3 s if the overrun were followed by a sleep

    // A sleep never exceeds maxInterval, however long the stored interval: 50 passes of an
    // hour's interval within the deadline.
    passes = 0;
    auto capped = XJThreadLoop::createWithTimeInterval(3600.0, [&] { ++passes; });
    capped->setMaxInterval(0.001);
    capped->start();
    EXPECT_TRUE(waitUntil([&] { return passes >= 50; }, 10s));
    capped->stopAndWaitUntilDone();
}

TEST(XJThreadLoopThreads, ThrowingCallbackIsLoggedSkipsTheSleepAndStopsFromAnotherThread) {
    LogCapture capture;
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(60.0, loop_test::ThrowingPass{&passes});
    loop->setMaxInterval(60.0);
    loop->start();
    // A failed pass that slept would take a minute to the next.
    ASSERT_TRUE(waitUntil([&] { return passes >= 10; }, 10s));
    std::jthread([&] { loop->stopAndWaitUntilDone(); }).join();
    EXPECT_FALSE(loop->running());
    const std::string expected = "\t\t-[XJThreadLoop threadCallback] caught exception boom on " +
                                 loop->description() + ", target is loop_test::ThrowingPass";
    EXPECT_EQ(capture.lines(), std::vector<std::string>(passes.load(), expected));
}

TEST(XJThreadLoopThreads, SpecialisationLogsTheShortFormAndARefusedPriorityOncePerRun) {
    LogCapture capture;
    auto loop = std::make_shared<RefusedLoop>();
    for (int run = 0; run < 2; ++run) {
        const int before = loop->passes;
        loop->start();
        ASSERT_TRUE(waitUntil([&] { return loop->passes >= before + 3; }, 10s));
        loop->stopAndWaitUntilDone();
    }
    const std::string priority = "\terror setting thread priority to 1.0";
    EXPECT_EQ(capture.count(priority), 2u);
    EXPECT_EQ(capture.lines()[0], priority);
    EXPECT_EQ(
        capture.lines()[1],
        "\t\t-[XJThreadLoop threadCallback] caught exception sub boom on " + loop->description());
}

// Even rounds stop on this thread, odd ones from another, racing the new thread's first steps;
// a stop that waited for the sleep would miss the deadline.
TEST(XJThreadLoopThreads, StopRightAfterStartAlwaysEndsTheRunAndCutsItsSleepShort) {
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(60.0, [&] { ++passes; });
    loop->setMaxInterval(60.0);
    for (int i = 0; i < 150; ++i) {
        std::atomic<bool> started{false};
        std::jthread stopper([&] {
            while (i % 2 && !started) std::this_thread::yield();
            if (i % 2) loop->stop();
        });
        loop->start();
        if (i % 2 == 0) loop->stop();
        started = true;
        stopper.join();
        ASSERT_TRUE(waitUntil([&] { return !loop->running(); }, 10s)) << "lost stop in round " << i;
    }
    loop->stopAndWaitUntilDone();
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
        {
            std::vector<std::jthread> starters;
            for (int s = 0; s < 3; ++s) {
                starters.emplace_back([&] {
                    go.arrive_and_wait();
                    loop->start();
                });
            }
        }
        // Enough passes for a second thread, had one been launched, to have made its own.
        const int before = passes;
        ASSERT_TRUE(waitUntil([&] { return passes >= before + 6; }, 10s));
        loop->stopAndWaitUntilDone();
        std::scoped_lock guard(lock);
        EXPECT_EQ(threads.size(), 1u) << "round " << round;
        threads.clear();
    }
}

// Paused from its own callback, so that no pass can be under way when the pause begins.
TEST(XJThreadLoopThreads, PauseSkipsTheCallbackUntilResumeOrAFreshStart) {
    std::weak_ptr<XJThreadLoop> weak;
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(0.005, [&] {
        if (++passes == 2) weak.lock()->pause();
    });
    weak = loop;
    loop->start();
    ASSERT_TRUE(waitUntil([&] { return passes >= 2; }, 10s));
    // Some sixty skipped passes: the callback must not run in any of them.
    EXPECT_FALSE(waitUntil([&] { return passes > 2; }, 300ms));
    EXPECT_TRUE(loop->running());
    loop->resume();
    ASSERT_TRUE(waitUntil([&] { return passes >= 4; }, 10s));
    loop->pause();
    loop->stopAndWaitUntilDone();
    const int stopped = passes;
    loop->start();
    ASSERT_TRUE(waitUntil([&] { return passes >= stopped + 2; }, 10s));
    loop->stopAndWaitUntilDone();
}

// A loop left to itself: its thread has an assertion handler of its own, holds the last share
// of the loop and drops it on the way out without trying to join itself.
TEST(XJThreadLoopThreads, LoopWithoutOutsideSharesLogsAssertionsAndEndsByItself) {
    LogCapture capture;
    std::atomic<int> passes{0};
    std::weak_ptr<XJThreadLoop> weak;
    {
        auto loop = XJThreadLoop::createWithTimeInterval(0.01, [&] {
            auto self = weak.lock();
            if (!self) return;
            XJAssert(++passes > 1, "loop check %d", passes.load());
            if (passes == 3) self->stop();
        });
        weak = loop;
        loop->start();
    }
    ASSERT_TRUE(waitUntil([&] { return weak.expired(); }, 10s));
    EXPECT_EQ(passes, 3);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "**** ERR: assertion failure!");
    EXPECT_EQ(lines[1], "**** operator()");
    EXPECT_EQ(lines[2].rfind("**** " + std::string(__FILE__) + ", ", 0), 0u);
    EXPECT_EQ(lines[3], "loop check 1");
    EXPECT_FALSE(XJAssertionHandler::currentHandler());  // none installed on the test's thread
}

// Neither start nor stopAndWaitUntilDone from the callback may wait for a thread that is itself
// joining the loop's.
TEST(XJThreadLoopThreads, CallbackMayStartAndStopItsOwnLoopWhileOthersWaitForIt) {
    std::weak_ptr<XJThreadLoop> weak;
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(0.001, [&] {
        ++passes;
        if (auto self = weak.lock()) {
            self->start();
            self->stopAndWaitUntilDone();
        }
    });
    weak = loop;
    for (int round = 0; round < 100; ++round) {
        loop->start();
        loop->stopAndWaitUntilDone();
        EXPECT_FALSE(loop->running());
    }
    EXPECT_GE(passes, 100);
}
