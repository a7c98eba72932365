#include <gtest/gtest.h>

#include "basics/XJThreadLoop.h"

using namespace vitrine;

TEST(XJThreadLoop, CreationNeedsACallbackAndKeepsTheIntervalUnbounded) {
    EXPECT_FALSE(XJThreadLoop::createWithTimeInterval(0.1, nullptr));
    auto loop = XJThreadLoop::createWithTimeInterval(3.0, [] {});
    ASSERT_TRUE(loop);
    EXPECT_DOUBLE_EQ(loop->interval(), 3.0);
    EXPECT_DOUBLE_EQ(loop->maxInterval(), 1.0);
    EXPECT_FALSE(loop->running());
}

TEST(XJThreadLoop, SetIntervalIsCappedByMaxInterval) {
    auto loop = XJThreadLoop::createWithTimeInterval(0.5);
    loop->setInterval(3.0);
    EXPECT_DOUBLE_EQ(loop->interval(), 1.0);
    loop->setMaxInterval(5.0);
    EXPECT_DOUBLE_EQ(loop->interval(), 1.0);
    loop->setInterval(3.0);
    EXPECT_DOUBLE_EQ(loop->interval(), 3.0);
    loop->setInterval(0.25);
    EXPECT_DOUBLE_EQ(loop->interval(), 0.25);
}
