#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "basics/NotificationCenter.h"

using namespace vitrine;
using namespace std::chrono_literals;

TEST(NotificationCenterThreads, PostsFromSeveralThreadsWhileObserversComeAndGo) {
    NotificationCenter center;
    constexpr int kPosters = 4;
    constexpr int kPosts = 1500;
    std::atomic<int> steady{0};
    std::atomic<int> lateCalls{0};
    auto counter = center.addObserver("N", [&](const Notification&) { ++steady; });

    std::atomic<bool> posting{true};
    std::vector<std::jthread> churners;
    for (int c = 0; c < 2; ++c) {
        churners.emplace_back([&] {
            while (posting) {
                // A call after removal returned would touch freed memory (ASan, TSan) or
                // see removed set.
                struct Probe {
                    std::atomic<bool> removed{false};
                    std::atomic<int> calls{0};
                };
                auto probe = std::make_unique<Probe>();
                auto token =
                    center.addObserver("N", [&lateCalls, p = probe.get()](const Notification&) {
                        ++p->calls;
                        if (p->removed) ++lateCalls;
                    });
                std::this_thread::yield();
                token.remove();
                probe->removed = true;
                probe.reset();
            }
        });
    }
    {
        std::vector<std::jthread> posters;
        for (int p = 0; p < kPosters; ++p) {
            posters.emplace_back([&] {
                for (int i = 0; i < kPosts; ++i) center.postNotification("N");
            });
        }
    }
    posting = false;
    churners.clear();
    EXPECT_EQ(steady, kPosters * kPosts);
    EXPECT_EQ(lateCalls, 0);
}

TEST(NotificationCenterThreads, RemovalWaitsForACallUnderWayOnAnotherThread) {
    NotificationCenter center;
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<bool> callEnded{false};
    auto token = center.addObserver("N", [&](const Notification&) {
        entered = true;
        while (!release) std::this_thread::sleep_for(1ms);
        callEnded = true;
    });
    std::jthread poster([&] { center.postNotification("N"); });
    while (!entered) std::this_thread::sleep_for(1ms);

    std::atomic<bool> removed{false};
    std::jthread remover([&] {
        token.remove();
        removed = true;
        EXPECT_TRUE(callEnded);
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(removed);
    release = true;
    remover.join();
    EXPECT_TRUE(removed);
    center.postNotification("N");
}
