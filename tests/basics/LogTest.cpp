#include <gtest/gtest.h>

#include <thread>

#include "basics/Log.h"

using namespace vitrine;

TEST(Log, CaptureSeesExactTextIncludingTabs) {
    LogCapture capture;
    Log::write("\t\terr: %s - BAIL", "-[OSCValue initWithString:]");
    Log::write("\t\terr %d at setsockopt() in %s", 22, "-[OSCOutPort createSocket]");
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                   "\t\terr: -[OSCValue initWithString:] - BAIL",
                                   "\t\terr 22 at setsockopt() in -[OSCOutPort createSocket]"}));
}

TEST(Log, NestedCapturesRestoreThePreviousSink) {
    LogCapture outer;
    {
        LogCapture inner;
        Log::write("inner");
        EXPECT_TRUE(inner.contains("inner"));
    }
    Log::write("outer");
    EXPECT_EQ(outer.lines(), std::vector<std::string>{"outer"});
}

TEST(Log, LongLinesAreNotCut) {
    LogCapture capture;
    const std::string longText(5000, 'x');
    Log::write("%s", longText.c_str());
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0], longText);
}
