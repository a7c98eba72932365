#include <gtest/gtest.h>

#include "basics/Log.h"

using namespace vitrine;

TEST(Log, CaptureSeesWholeExactLinesAndNestedCapturesRestoreTheSink) {
    LogCapture outer;
    {
        LogCapture inner;
        Log::write("\t\terr: %s - BAIL", "-[OSCValue initWithString:]");
        Log::write("%s", std::string(5000, 'x').c_str());
        EXPECT_EQ(inner.lines(),
                  (std::vector<std::string>{"\t\terr: -[OSCValue initWithString:] - BAIL",
                                            std::string(5000, 'x')}));
    }
    Log::write("outer");
    EXPECT_EQ(outer.lines(), std::vector<std::string>{"outer"});
}
