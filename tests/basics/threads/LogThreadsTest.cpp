#include <gtest/gtest.h>

#include <thread>

#include "basics/Log.h"

using namespace vitrine;

TEST(LogThreads, LinesFromManyThreadsAreAllKeptWhole) {
    LogCapture capture;
    {
        std::vector<std::jthread> writers;
        for (int t = 0; t < 4; ++t) {
            writers.emplace_back([] {
                for (int i = 0; i < 500; ++i) Log::write("writer line %d", i);
            });
        }
        // A sink swapped back and forth meanwhile must not race with the writers.
        std::jthread swapper([] {
            for (int i = 0; i < 200; ++i) Log::setSink(Log::setSink({}));
        });
    }
    const auto lines = capture.lines();
    EXPECT_GT(lines.size(), 0u);
    EXPECT_LE(lines.size(), 2000u);
    for (const auto& line : lines) EXPECT_EQ(line.rfind("writer line ", 0), 0u);
}
