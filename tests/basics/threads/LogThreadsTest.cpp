#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "basics/Log.h"

using namespace vitrine;

TEST(LogThreads, LinesFromManyThreadsAreAllKeptWhole) {
    LogCapture capture;
    {
        std::vector<std::jthread> writers;
        for (int t = 0; t < 4; ++t) {
            writers.emplace_back([t] {
                for (int i = 0; i < 500; ++i) Log::write("writer %d line %d", t, i);
            });
        }
        // A sink swapped back and forth meanwhile must not race with the writers.
        std::jthread swapper([] {
            for (int i = 0; i < 200; ++i) Log::setSink(Log::setSink({}));
        });
    }
    size_t total = 0;
    for (const auto& line : capture.lines()) total += line.rfind("writer ", 0) == 0;
    EXPECT_LE(total, 2000u);
    EXPECT_GT(total, 0u);
}
