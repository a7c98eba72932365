#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <latch>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

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

// Start instants of the passes, in seconds since the first one.
class PassTimes {
public:
    void mark() {
        std::lock_guard guard(lock);
        times.push_back(Clock::now());
    }
    std::vector<double> gaps() const {
        std::lock_guard guard(lock);
        std::vector<double> out;
        for (size_t i = 1; i < times.size(); ++i)
            out.push_back(std::chrono::duration<double>(times[i] - times[i - 1]).count());
        return out;
    }
    size_t count() const {
        std::lock_guard guard(lock);
        return times.size();
    }

private:
    mutable std::mutex lock;
    std::vector<Clock::time_point> times;
};

class CountingLoop : public XJThreadLoop {
public:
    CountingLoop(double interval, bool priorityGranted)
        : XJThreadLoop(interval), priorityGranted(priorityGranted) {}
    std::atomic<int> passes{0};
    bool throwing = false;

protected:
    void threadProc() override {
        ++passes;
        if (throwing) throw std::runtime_error("sub boom");
    }
    bool raiseThreadPriority() override { return priorityGranted; }

private:
    const bool priorityGranted;
};

}  // namespace

TEST(XJThreadLoopThreads, PassesStartOneIntervalApartAndOverrunsDoNotSleep) {
    PassTimes quick;
    auto loop = XJThreadLoop::createWithTimeInterval(0.2, [&] {
        quick.mark();
        std::this_thread::sleep_for(50ms);
    });
    loop->start();
    ASSERT_TRUE(waitFor([&] { return quick.count() >= 4; }));
    loop->stopAndWaitUntilDone();
    for (double gap : quick.gaps()) {
        EXPECT_GT(gap, 0.15);
        EXPECT_LT(gap, 0.6);
    }

    PassTimes slow;
    auto overrunning = XJThreadLoop::createWithTimeInterval(0.25, [&] {
        slow.mark();
        std::this_thread::sleep_for(300ms);
    });
    overrunning->start();
    ASSERT_TRUE(waitFor([&] { return slow.count() >= 3; }));
    overrunning->stopAndWaitUntilDone();
    // With a sleep after an overrun the gaps would be about 0.55 s.
    for (double gap : slow.gaps()) EXPECT_LT(gap, 0.45);
}

TEST(XJThreadLoopThreads, EachSleepIsCappedByMaxInterval) {
    PassTimes passes;
    auto loop = XJThreadLoop::createWithTimeInterval(5.0, [&] { passes.mark(); });
    loop->setMaxInterval(0.2);
    EXPECT_DOUBLE_EQ(loop->interval(), 5.0);
    loop->start();
    ASSERT_TRUE(waitFor([&] { return passes.count() >= 4; }, 3000ms));
    loop->stopAndWaitUntilDone();
    for (double gap : passes.gaps()) EXPECT_LT(gap, 0.6);
}

TEST(XJThreadLoopThreads, ThrowingCallbackIsLoggedSkipsTheSleepAndStillStops) {
    LogCapture capture;
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(10.0, loop_test::ThrowingPass{&passes});
    loop->setMaxInterval(10.0);
    loop->start();
    // Ten passes in well under one interval: a failed pass does not sleep.
    ASSERT_TRUE(waitFor([&] { return passes >= 10; }, 5000ms));
    std::jthread stopper([&] { loop->stopAndWaitUntilDone(); });
    stopper.join();
    EXPECT_FALSE(loop->running());

    const int total = passes;
    const std::string expected = "\t\t-[XJThreadLoop threadCallback] caught exception boom on " +
                                 loop->description() + ", target is loop_test::ThrowingPass";
    EXPECT_EQ(capture.count(expected), static_cast<size_t>(total));
    EXPECT_EQ(capture.lines().size(), static_cast<size_t>(total));
}

TEST(XJThreadLoopThreads, SpecialisationWithoutTargetLogsTheShortForm) {
    LogCapture capture;
    auto loop = std::make_shared<CountingLoop>(10.0, true);
    loop->throwing = true;
    loop->start();
    ASSERT_TRUE(waitFor([&] { return loop->passes >= 2; }));
    loop->stopAndWaitUntilDone();
    const auto lines = capture.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "\t\t-[XJThreadLoop threadCallback] caught exception sub boom on " +
                            loop->description());
}

TEST(XJThreadLoopThreads, RefusedPriorityIsLoggedOncePerRun) {
    LogCapture capture;
    auto loop = std::make_shared<CountingLoop>(0.01, false);
    for (int run = 0; run < 2; ++run) {
        const int before = loop->passes;
        loop->start();
        ASSERT_TRUE(waitFor([&] { return loop->passes >= before + 3; }));
        loop->stopAndWaitUntilDone();
    }
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>(2, "\terror setting thread priority to 1.0")));
}

TEST(XJThreadLoopThreads, StopRightAfterStartAlwaysEndsTheRun) {
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(10.0, [&] { ++passes; });
    loop->setMaxInterval(10.0);
    for (int i = 0; i < 100; ++i) {
        loop->start();
        loop->stop();
        ASSERT_TRUE(waitFor([&] { return !loop->running(); })) << "lost stop in round " << i;
    }
    // And from another thread, racing the new thread's first steps.
    for (int i = 0; i < 50; ++i) {
        std::atomic<bool> started{false};
        std::jthread stopper([&] {
            while (!started) std::this_thread::yield();
            loop->stop();
        });
        loop->start();
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
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
    auto loop = XJThreadLoop::createWithTimeInterval(0.005, [&] {
        const int now = ++inside;
        int seen = mostInside;
        while (now > seen && !mostInside.compare_exchange_weak(seen, now)) {
        }
        {
            std::lock_guard guard(lock);
            threads.insert(std::this_thread::get_id());
        }
        --inside;
    });
    for (int round = 0; round < 20; ++round) {
        {
            std::lock_guard guard(lock);
            threads.clear();
        }
        std::latch go(3);
        std::vector<std::jthread> starters;
        for (int s = 0; s < 3; ++s) {
            starters.emplace_back([&] {
                go.arrive_and_wait();
                loop->start();
            });
        }
        starters.clear();
        std::this_thread::sleep_for(20ms);
        loop->stopAndWaitUntilDone();
        std::lock_guard guard(lock);
        EXPECT_LE(threads.size(), 1u) << "round " << round;
    }
    EXPECT_EQ(mostInside, 1);
}

TEST(XJThreadLoopThreads, PauseSkipsTheCallbackUntilResume) {
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(0.02, [&] { ++passes; });
    loop->start();
    ASSERT_TRUE(waitFor([&] { return passes >= 2; }));
    loop->pause();
    std::this_thread::sleep_for(100ms);  // lets a pass under way finish
    const int paused = passes;
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(passes, paused);
    EXPECT_TRUE(loop->running());
    loop->resume();
    ASSERT_TRUE(waitFor([&] { return passes >= paused + 2; }));

    // A paused loop still answers stop; start again begins unpaused.
    loop->pause();
    loop->stopAndWaitUntilDone();
    EXPECT_FALSE(loop->running());
    const int stopped = passes;
    loop->start();
    ASSERT_TRUE(waitFor([&] { return passes >= stopped + 2; }));
    loop->stopAndWaitUntilDone();
}

TEST(XJThreadLoopThreads, StopCutsALongSleepShort) {
    std::atomic<int> passes{0};
    auto loop = XJThreadLoop::createWithTimeInterval(30.0, [&] { ++passes; });
    loop->setMaxInterval(30.0);
    loop->start();
    ASSERT_TRUE(waitFor([&] { return passes >= 1; }));
    std::this_thread::sleep_for(20ms);
    const auto before = Clock::now();
    loop->stopAndWaitUntilDone();
    EXPECT_LT(Clock::now() - before, 5s);
    EXPECT_EQ(passes, 1);
}

TEST(XJThreadLoopThreads, AssertionOnTheLoopThreadIsLoggedAndThePassGoesOn) {
    LogCapture capture;
    std::atomic<int> finished{0};
    auto loop = XJThreadLoop::createWithTimeInterval(10.0, [&] {
        if (finished > 0) return;
        XJAssert(finished < 0, "loop check %d", 1);
        ++finished;
    });
    loop->start();
    ASSERT_TRUE(waitFor([&] { return finished > 0; }));
    loop->stopAndWaitUntilDone();
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "**** ERR: assertion failure!");
    EXPECT_EQ(lines[1], "**** operator()");
    EXPECT_EQ(lines[2].rfind("**** " + std::string(__FILE__) + ", ", 0), 0u);
    EXPECT_EQ(lines[3], "loop check 1");
    // The test's own thread has no handler installed by the loop.
    EXPECT_FALSE(XJAssertionHandler::currentHandler());
}

TEST(XJThreadLoopThreads, RunningLoopOutlivesItsLastOutsideShare) {
    std::atomic<int> passes{0};
    std::weak_ptr<XJThreadLoop> weak;
    {
        auto loop = XJThreadLoop::createWithTimeInterval(0.01, [&] {
            if (++passes == 3) {
                if (auto self = weak.lock()) self->stop();
            }
        });
        weak = loop;
        loop->start();
    }
    // The thread drops the last share on its way out and must not try to join itself.
    ASSERT_TRUE(waitFor([&] { return weak.expired(); }));
    EXPECT_EQ(passes, 3);
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
