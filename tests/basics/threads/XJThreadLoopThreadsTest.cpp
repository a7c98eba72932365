#include <gtest/gtest.h>

#include <latch>
#include <mutex>
#include <set>
#include <stdexcept>

#include "basics/Log.h"
#include "basics/XJAssertionHandler.h"
#include "basics/XJThreadLoop.h"

using namespace vitrine;
using namespace std::chrono_literals;
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

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Runs a loop until it has made `passes` passes and answers the gaps between their starts.
std::vector<double> gapsBetweenPasses(double interval, double maxInterval, int passes,
                                      std::chrono::milliseconds work) {
    std::vector<Clock::time_point> starts;  // written on the loop's thread, read after it ended
    std::atomic<int> count{0};
    auto loop = XJThreadLoop::createWithTimeInterval(interval, [&] {
        starts.push_back(Clock::now());
        ++count;
        std::this_thread::sleep_for(work);
    });
    loop->setMaxInterval(maxInterval);
    loop->start();
    EXPECT_TRUE(waitFor([&] { return count >= passes; }));
    loop->stopAndWaitUntilDone();
    std::vector<double> gaps;
    for (size_t i = 1; i < starts.size(); ++i)
        gaps.push_back(std::chrono::duration<double>(starts[i] - starts[i - 1]).count());
    return gaps;
}

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

TEST(XJThreadLoopThreads, PassesStartOneIntervalApartCappedByMaxIntervalAndOverrunsDoNotSleep) {
    EXPECT_FALSE(XJThreadLoop::createWithTimeInterval(0.1, nullptr));
    auto loop = XJThreadLoop::createWithTimeInterval(0.5, [] {});
    EXPECT_DOUBLE_EQ(loop->maxInterval(), 1.0);
    loop->setInterval(3.0);
    EXPECT_DOUBLE_EQ(loop->interval(), 1.0);
    loop->setMaxInterval(5.0);
    EXPECT_DOUBLE_EQ(loop->interval(), 1.0);

    for (double gap : gapsBetweenPasses(0.2, 1.0, 4, 50ms)) {
        EXPECT_GT(gap, 0.15);
        EXPECT_LT(gap, 0.6);
    }
    // Each sleep is capped by maxInterval even when the stored interval is longer.
    for (double gap : gapsBetweenPasses(5.0, 0.2, 4, 0ms)) EXPECT_LT(gap, 0.6);
    // With a sleep after an overrun the gaps would be about 0.55 s.
    for (double gap : gapsBetweenPasses(0.25, 1.0, 3, 300ms)) EXPECT_LT(gap, 0.45);
}

TEST(XJThreadLoopThreads, ThrowingCallbackIsLoggedSkipsTheSleepAndStopsFromAnotherThread) {
    LogCapture capture;
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(10.0, loop_test::ThrowingPass{&passes});
    loop->setMaxInterval(10.0);
    loop->start();
    // Ten passes in well under one interval: a failed pass does not sleep.
    ASSERT_TRUE(waitFor([&] { return passes >= 10; }));
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
        ASSERT_TRUE(waitFor([&] { return loop->passes >= before + 3; }));
        loop->stopAndWaitUntilDone();
    }
    const std::string priority = "\terror setting thread priority to 1.0";
    EXPECT_EQ(capture.count(priority), 2u);
    EXPECT_EQ(capture.lines()[0], priority);
    EXPECT_EQ(
        capture.lines()[1],
        "\t\t-[XJThreadLoop threadCallback] caught exception sub boom on " + loop->description());
}

TEST(XJThreadLoopThreads, StopRightAfterStartAlwaysEndsTheRunAndCutsItsSleepShort) {
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(10.0, [&] { ++passes; });
    loop->setMaxInterval(10.0);  // a stop that waited for the sleep would miss the 5 s deadline
    // Even rounds stop on this thread, odd ones from another, racing the new thread's first steps.
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
        ASSERT_TRUE(waitFor([&] { return !loop->running(); })) << "lost stop in round " << i;
    }
    loop->stopAndWaitUntilDone();
    EXPECT_GE(passes, 1);
}

TEST(XJThreadLoopThreads, ConcurrentStartsLaunchOneThread) {
    std::mutex lock;
    std::set<std::thread::id> threads;
    auto loop = XJThreadLoop::createWithTimeInterval(0.005, [&] {
        std::scoped_lock guard(lock);
        threads.insert(std::this_thread::get_id());
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
        std::this_thread::sleep_for(20ms);
        loop->stopAndWaitUntilDone();
        std::scoped_lock guard(lock);
        EXPECT_LE(threads.size(), 1u) << "round " << round;
        threads.clear();
    }
}

TEST(XJThreadLoopThreads, PauseSkipsTheCallbackUntilResumeOrAFreshStart) {
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(0.02, [&] { ++passes; });
    loop->start();
    loop->pause();
    std::this_thread::sleep_for(100ms);  // lets a pass under way finish
    const int paused = passes;
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(passes, paused);
    EXPECT_TRUE(loop->running());
    loop->resume();
    ASSERT_TRUE(waitFor([&] { return passes >= paused + 2; }));
    loop->pause();
    loop->stopAndWaitUntilDone();
    const int stopped = passes;
    loop->start();
    ASSERT_TRUE(waitFor([&] { return passes >= stopped + 2; }));
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
    ASSERT_TRUE(waitFor([&] { return weak.expired(); }));
    EXPECT_EQ(passes, 3);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "**** ERR: assertion failure!");
    EXPECT_EQ(lines[1], "**** operator()");
    EXPECT_EQ(lines[2].rfind("**** " + std::string(__FILE__) + ", ", 0), 0u);
    EXPECT_EQ(lines[3], "loop check 1");
    EXPECT_FALSE(XJAssertionHandler::currentHandler());  // none installed on the test's thread
}

TEST(XJThreadLoopThreads, CallbackMayStartAndStopItsOwnLoopWhileOthersWaitForIt) {
    std::weak_ptr<XJThreadLoop> weak;
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(0.001, [&] {
        ++passes;
        if (auto self = weak.lock()) {
            // Neither may wait for another thread that is itself joining this one.
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
