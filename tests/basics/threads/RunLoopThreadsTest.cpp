#include <gtest/gtest.h>

#include <thread>

#include "basics/RunLoop.h"
#include "support/Waiting.h"

using namespace vitrine;
using namespace std::chrono_literals;

TEST(RunLoopThreads, PostsFromSeveralThreadsRunInOrderOnTheLoopThread) {
    auto loop = RunLoop::create();
    std::jthread runner([&] { loop->run(); });
    std::vector<std::pair<int, int>> ran;  // touched on the loop thread only
    std::atomic<int> offLoop{0};
    std::vector<std::jthread> posters;
    for (int p = 0; p < 3; ++p) {
        posters.emplace_back([&, p] {
            for (int i = 0; i < 500; ++i) {
                loop->post([&, p, i] { offLoop += !loop->isMainThread(), ran.emplace_back(p, i); });
            }
        });
    }
    posters.clear();
    loop->post([&] { loop->stop(); });
    runner.join();
    EXPECT_EQ(offLoop, 0);
    ASSERT_EQ(ran.size(), 3u * 500u);
    std::vector<int> next(3, 0);
    for (const auto& [p, i] : ran) EXPECT_EQ(i, next[p]++);
}

// Another thread invalidates the timer while the loop runs here; a ticking timer then counts
// five of its periods, in which it must not fire again.
TEST(RunLoopThreads, TimersRepeatUntilInvalidatedFromAnyThread) {
    auto loop = RunLoop::create();
    std::atomic<int> fires{0}, ticks{0}, atInvalidation{-1}, ticksThen{0};
    auto timer = loop->scheduleRepeatingTimer(20ms, [&] { ++fires; });
    auto ticker = loop->scheduleRepeatingTimer(10ms, [&] { ++ticks; });
    EXPECT_FALSE(loop->scheduleRepeatingTimer(10ms, nullptr));
    std::jthread invalidator([&] {
        EXPECT_TRUE(vitrine::test::waitUntil([&] { return fires >= 5; }, 10s));
        timer->invalidate();
        loop->post([&] { ticksThen = ticks.load(), atInvalidation = fires.load(); });
    });
    EXPECT_TRUE(
        loop->runUntil([&] { return atInvalidation >= 0 && ticks >= ticksThen + 10; }, 20s));
    EXPECT_EQ(fires, atInvalidation);
    EXPECT_FALSE(timer->isValid());
}

// A stop racing the start of a run ends that run; a run with a deadline ends there (bounds in
// seconds: anything shorter is scheduling noise). The run for a set time shares this deadline
// and is driven by the receiving-port and remote-screen tests.
TEST(RunLoopThreads, StopIsNeverLostAndTimedRunsEnd) {
    auto loop = RunLoop::create();
    for (int i = 0; i < 50; ++i) {
        std::jthread runner([&] { loop->run(); });
        loop->stop();
    }
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop->runUntil([] { return false; }, 1s));
    const auto elapsed = std::chrono::steady_clock::now() - before;
    EXPECT_GE(elapsed, 1s);
    EXPECT_LT(elapsed, 30s);
}
