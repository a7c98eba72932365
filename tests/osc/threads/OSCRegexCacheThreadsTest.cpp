#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "basics/Log.h"
#include "osc/OSCPOSIXRegExpHolder.h"
#include "osc/OSCStringAdditions.h"

using namespace vitrine;

// Threads meet new expressions together, so the cache is filled, read and (for an expression two
// threads compiled at once) overwritten while other threads evaluate shared holders.
TEST(OSCRegexCacheThreads, ConcurrentMatchingGivesTheSameAnswersAsASingleThread) {
    // The cache outlives a test, so each run (--gtest_repeat) brings expressions of its own; the
    // never-matching alternative changes no answer.
    static int run = 0;
    const std::string fresh = "|never-" + std::to_string(++run);
    std::vector<std::string> regexes;
    for (const char* base : {"^chan(1|2)$", "f.o", "^[a-c]+[0-9]$", "x?y+z*", "level\\.[0-9]{2}"})
        regexes.push_back(base + fresh);
    const std::vector<std::string> names = {"chan1", "chan3",    "xfooy",   "abc7",
                                            "yz",    "level.42", "level42", "chan2"};
    std::vector<std::vector<bool>> expected(regexes.size());
    for (size_t r = 0; r < regexes.size(); ++r) {
        const auto holder = OSCPOSIXRegExpHolder::createWithString(regexes[r]);
        for (const auto& name : names) expected[r].push_back(holder->evalAgainstString(name));
    }
    LogCapture capture;
    constexpr int kThreads = 6, kRounds = 200, kInvalidCalls = kThreads * (kRounds / 50);
    const auto before = OSCPOSIXRegExpHolder::compilationCount();
    std::atomic<int> ready{0}, mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            for (int round = 0; round < kRounds; ++round) {
                for (size_t r = 0; r < regexes.size(); ++r) {
                    const size_t n = (r + static_cast<size_t>(round + t)) % names.size();
                    if (posixMatchAgainstFastRegex(names[n], regexes[r]) != expected[r][n])
                        mismatches.fetch_add(1);
                }
                if (round % 50 == 0) posixMatchAgainstFastRegex("x", "(");
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    // Every call with the invalid expression logged its own line; nothing else was logged.
    EXPECT_EQ(capture.lines().size(), static_cast<size_t>(kInvalidCalls));
    const auto compiledValid = OSCPOSIXRegExpHolder::compilationCount() - before - kInvalidCalls;
    EXPECT_GE(compiledValid, regexes.size());
    EXPECT_LE(compiledValid, regexes.size() * kThreads);
    // Once cached, nothing is compiled again.
    const auto settled = OSCPOSIXRegExpHolder::compilationCount();
    for (const auto& regex : regexes) posixMatchAgainstFastRegex("chan1", regex);
    EXPECT_EQ(OSCPOSIXRegExpHolder::compilationCount(), settled);
}
