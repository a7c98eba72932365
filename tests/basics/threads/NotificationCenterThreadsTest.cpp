#include <gtest/gtest.h>

#include <latch>
#include <thread>

#include "basics/NotificationCenter.h"
#include "support/Waiting.h"

using namespace vitrine;
using namespace std::chrono_literals;

TEST(NotificationCenterThreads, PostsFromSeveralThreadsWhileObserversComeAndGo) {
    NotificationCenter center;
    std::atomic<int> steady{0}, lateCalls{0};
    std::atomic<bool> posting{true};
    auto counter = center.addObserver("N", [&](const Notification&) { ++steady; });
    std::vector<std::jthread> threads;
    for (int c = 0; c < 2; ++c) {
        threads.emplace_back([&] {
            while (posting) {
                // A call after removal returned would touch freed memory or see `removed` set.
                auto removed = std::make_unique<std::atomic<bool>>(false);
                auto token = center.addObserver(
                    "N", [&lateCalls, r = removed.get()](const Notification&) { lateCalls += *r; });
                std::this_thread::yield();
                token.remove();
                *removed = true;
            }
        });
    }
    std::vector<std::jthread> posters;
    for (int p = 0; p < 4; ++p) {
        posters.emplace_back([&] {
            for (int i = 0; i < 1500; ++i) center.postNotification("N");
        });
    }
    posters.clear();
    posting = false;
    threads.clear();
    EXPECT_EQ(steady, 4 * 1500);
    EXPECT_EQ(lateCalls, 0);
}

// The call is held inside the observer while another thread removes it: a removal that returns
// before the call has ended shows itself in the remover's check.
TEST(NotificationCenterThreads, RemovalWaitsForACallUnderWayOnAnotherThread) {
    NotificationCenter center;
    std::latch entered(1), release(1);
    std::atomic<bool> callEnded{false}, removed{false};
    auto token = center.addObserver("N", [&](const Notification&) {
        entered.count_down();
        release.wait();
        callEnded = true;
    });
    std::jthread poster([&] { center.postNotification("N"); });
    entered.wait();
    std::jthread remover([&] {
        token.remove();
        removed = true;
        EXPECT_TRUE(callEnded);
    });
    EXPECT_FALSE(vitrine::test::waitUntil([&] { return removed.load(); }, 300ms));
    release.count_down();
}
