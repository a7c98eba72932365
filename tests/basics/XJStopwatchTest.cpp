#include <gtest/gtest.h>

#include <climits>

#include "basics/XJStopwatch.h"

using namespace vitrine;

TEST(XJStopwatch, DifferenceBorrowsASecondForTheMicroseconds) {
    const timeval elapsed =
        XJStopwatch::fullTimeBetween(timeval{10, 900'000}, timeval{12, 100'000});
    EXPECT_EQ(elapsed.tv_sec, 1);
    EXPECT_EQ(elapsed.tv_usec, 200'000);
    // A start in the future: the seconds carry the sign, the microseconds stay in range.
    const timeval ahead = XJStopwatch::fullTimeBetween(timeval{12, 100'000}, timeval{10, 900'000});
    EXPECT_EQ(ahead.tv_sec, -2);
    EXPECT_EQ(ahead.tv_usec, 800'000);
}

TEST(XJStopwatch, ShiftedStartsReadTheOffsetAtOnce) {
    auto watch = XJStopwatch::create();
    EXPECT_NEAR(watch->timeSinceStart(), 0.0, 0.25);
    watch->startInTimeInterval(-1.0);
    EXPECT_NEAR(watch->timeSinceStart(), 1.0, 0.25);
    watch->startInTimeInterval(5.0);
    EXPECT_NEAR(watch->timeSinceStart(), -5.0, 0.25);
    watch->startInTimeInterval(-3.25);
    timeval full{};
    watch->getFullTimeSinceStart(&full);
    EXPECT_EQ(full.tv_sec, 3);
    EXPECT_NEAR(full.tv_usec, 250'000, 200'000);
    watch->getFullTimeSinceStart(nullptr);
    watch->copyStartTimeToTimevalStruct(nullptr);
}

TEST(XJStopwatch, StoredStartsAreNormalisedAndOffsetsSanitised) {
    XJStopwatch watch;
    timeval start{};
    watch.setStartTimeStruct(timeval{100, 2'500'000});
    watch.copyStartTimeToTimevalStruct(&start);
    EXPECT_EQ(start.tv_sec, 102);
    EXPECT_EQ(start.tv_usec, 500'000);
    watch.setStartTimeStruct(timeval{100, -1});
    watch.copyStartTimeToTimevalStruct(&start);
    EXPECT_EQ(start.tv_sec, 99);
    EXPECT_EQ(start.tv_usec, 999'999);
    // Extreme values must neither overflow nor loop (UBSan watches the conversions).
    watch.setStartTimeStruct(timeval{LONG_MIN, LONG_MAX});
    EXPECT_GT(watch.timeSinceStart(), 0.0);
    watch.startInTimeInterval(std::numeric_limits<double>::quiet_NaN());
    EXPECT_NEAR(watch.timeSinceStart(), 0.0, 0.25);
    watch.startInTimeInterval(std::numeric_limits<double>::infinity());
    EXPECT_LT(watch.timeSinceStart(), -1.0e9);
}
