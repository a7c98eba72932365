#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>

#include "basics/XJStopwatch.h"

using namespace vitrine;

namespace {

std::string text(const timeval& t) {
    return std::to_string(t.tv_sec) + "." + std::to_string(t.tv_usec);
}

}  // namespace

// Differences and stored starts keep 0 <= tv_usec < 1 000 000, the seconds carrying the sign.
TEST(XJStopwatch, TimevalsAreNormalisedWithTheSignInTheSeconds) {
    EXPECT_EQ(text(XJStopwatch::fullTimeBetween({10, 900'000}, {12, 100'000})), "1.200000");
    EXPECT_EQ(text(XJStopwatch::fullTimeBetween({12, 100'000}, {10, 900'000})), "-2.800000");
    XJStopwatch watch;
    const auto stored = [&](timeval start) {
        watch.setStartTimeStruct(start);
        watch.copyStartTimeToTimevalStruct(&start);
        return text(start);
    };
    EXPECT_EQ(stored({100, 2'500'000}), "102.500000");
    EXPECT_EQ(stored({100, -1}), "99.999999");
}

// Offsets are far larger than any delay between two calls, so the tolerances are whole seconds.
TEST(XJStopwatch, OffsetStartsReadAtOnceAndExtremeValuesAreSanitised) {
    auto watch = XJStopwatch::create();
    watch->startInTimeInterval(-1000.0);
    timeval full{};
    watch->getFullTimeSinceStart(&full);
    EXPECT_TRUE(full.tv_sec >= 1000 && full.tv_sec < 1010 && full.tv_usec < 1'000'000) << full.tv_sec;
    watch->startInTimeInterval(5000.0);
    EXPECT_NEAR(watch->timeSinceStart(), -5000.0, 10.0);
    // Extreme values must neither overflow nor loop (UBSan watches the conversions).
    watch->setStartTimeStruct(timeval{LONG_MIN, LONG_MAX});
    EXPECT_GT(watch->timeSinceStart(), 0.0);
    watch->startInTimeInterval(std::nan(""));
    EXPECT_NEAR(watch->timeSinceStart(), 0.0, 10.0);
    watch->startInTimeInterval(INFINITY);
    EXPECT_LT(watch->timeSinceStart(), -1.0e9);
}
