#include <gtest/gtest.h>

#include <thread>

#include "basics/RunLoop.h"

using namespace vitrine;
using namespace std::chrono_literals;

TEST(RunLoopThreads, PostsFromSeveralThreadsRunInOrderOnTheLoopThread) {
    auto loop = RunLoop::create();
    EXPECT_TRUE(loop->isMainThread());  // the creating thread, until someone runs it
    std::jthread runner([&] { loop->run(); });
    std::vector<std::pair<int, int>> ran;  // touched on the loop thread only
    std::atomic<int> offLoop{0};
    {
        std::vector<std::jthread> posters;
        for (int p = 0; p < 3; ++p) {
            posters.emplace_back([&, p] {
                for (int i = 0; i < 500; ++i) {
                    loop->post([&, p, i] {
                        offLoop += !loop->isMainThread();
                        ran.emplace_back(p, i);
                    });
                }
            });
        }
    }
    loop->post([&] { loop->stop(); });
    runner.join();
    EXPECT_FALSE(loop->isMainThread());
    EXPECT_EQ(offLoop, 0);
    ASSERT_EQ(ran.size(), 3u * 500u);
    std::vector<int> next(3, 0);
    for (const auto& [p, i] : ran) EXPECT_EQ(i, next[p]++);
}

TEST(RunLoopThreads, TimersRepeatUntilInvalidatedFromAnyThread) {
    auto loop = RunLoop::create();
    std::atomic<int> fires{0}, selfStopping{0};
    auto timer = loop->scheduleRepeatingTimer(20ms, [&] { ++fires; });
    std::shared_ptr<MainLoopTimer> once;
    once = loop->scheduleRepeatingTimer(10ms, [&] {
        if (++selfStopping == 3) once->invalidate();
    });
    EXPECT_FALSE(loop->scheduleRepeatingTimer(10ms, nullptr));
    std::jthread([&] { EXPECT_TRUE(loop->runUntil([&] { return fires >= 5; }, 10s)); }).join();
    EXPECT_TRUE(timer->isValid());
    EXPECT_FALSE(once->isValid());
    std::jthread runAgain([&] { loop->run(); });
    std::this_thread::sleep_for(50ms);
    timer->invalidate();
    const int atInvalidation = fires;
    std::this_thread::sleep_for(150ms);
    loop->stop();
    runAgain.join();
    EXPECT_EQ(fires, atInvalidation);
    EXPECT_EQ(selfStopping, 3);
}

TEST(RunLoopThreads, StopIsNeverLostAndRunForEnds) {
    auto loop = RunLoop::create();
    for (int i = 0; i < 50; ++i) {
        std::jthread runner([&] { loop->run(); });
        loop->stop();  // may come before run begins
    }
    loop->stop();
    const auto before = std::chrono::steady_clock::now();
    loop->run();  // ends at once
    loop->runFor(100ms);
    const auto elapsed = std::chrono::steady_clock::now() - before;
    EXPECT_GE(elapsed, 90ms);
    EXPECT_LT(elapsed, 5s);
    EXPECT_FALSE(loop->runUntil([] { return false; }, 30ms));
}
