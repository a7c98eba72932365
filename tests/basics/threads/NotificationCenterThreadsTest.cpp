#include <gtest/gtest.h>

#include <thread>

#include "basics/NotificationCenter.h"

using namespace vitrine;
using namespace std::chrono_literals;

TEST(NotificationCenterThreads, PostsFromSeveralThreadsWhileObserversComeAndGo) {
    NotificationCenter center;
    std::atomic<int> steady{0}, lateCalls{0};
    std::atomic<bool> posting{true};
    auto counter = center.addObserver("N", [&](const Notification&) { ++steady; });
    std::vector<std::jthread> churners;
    for (int c = 0; c < 2; ++c) {
        churners.emplace_back([&] {
            while (posting) {
                // A call after removal returned would touch freed memory or see `removed` set.
                auto removed = std::make_unique<std::atomic<bool>>(false);
                auto token =
                    center.addObserver("N", [&lateCalls, r = removed.get()](const Notification&) {
                        lateCalls += r->load();
                    });
                std::this_thread::yield();
                token.remove();
                *removed = true;
            }
        });
    }
    {
        std::vector<std::jthread> posters;
        for (int p = 0; p < 4; ++p) {
            posters.emplace_back([&] {
                for (int i = 0; i < 1500; ++i) center.postNotification("N");
            });
        }
    }
    posting = false;
    churners.clear();
    EXPECT_EQ(steady, 4 * 1500);
    EXPECT_EQ(lateCalls, 0);
}

TEST(NotificationCenterThreads, RemovalWaitsForACallUnderWayOnAnotherThread) {
    NotificationCenter center;
    std::atomic<bool> entered{false}, release{false}, callEnded{false}, removed{false};
    auto token = center.addObserver("N", [&](const Notification&) {
        entered = true;
        while (!release) std::this_thread::sleep_for(1ms);
        callEnded = true;
    });
    std::jthread poster([&] { center.postNotification("N"); });
    while (!entered) std::this_thread::sleep_for(1ms);
    std::jthread remover([&] {
        token.remove();
        removed = true;
        EXPECT_TRUE(callEnded);
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(removed);
    release = true;
}
