#include <gtest/gtest.h>

#include "basics/Log.h"
#include "basics/XJAssertionHandler.h"

using namespace vitrine;

namespace {

int checkedHalf(int value) {
    XJAssert(value % 2 == 0, "odd value %d", value);
    return value / 2;
}
constexpr long kCheckedHalfAssertLine = __LINE__ - 3;

}  // namespace

TEST(XJAssertionHandler, FailuresLogTheirLinesAndCarryOn) {
    const auto previous =
        XJAssertionHandler::setCurrentHandler(std::make_shared<XJAssertionHandler>());
    LogCapture capture;
    EXPECT_EQ(checkedHalf(7), 3);
    XJAssertInMethod(1 + 1 == 3, "-[OSCNode addLocalNode:]", "<OSCNode: /a>", "bad %s", "n");
    const long methodLine = __LINE__ - 1;
    xjAssertionFailedInFunction(nullptr, "", 323, "%s", "x");
    XJAssertionHandler::setCurrentHandler(previous);
    const std::string here = std::string("**** ") + __FILE__ + ", ";
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{
                  "**** ERR: assertion failure!", "**** checkedHalf",
                  here + std::to_string(kCheckedHalfAssertLine), "odd value 7",
                  "**** ERR: assertion failure!", "**** method: -[OSCNode addLocalNode:]",
                  here + std::to_string(methodLine), "**** object: <OSCNode: /a>", "bad n",
                  "**** ERR: assertion failure!", "**** <Unknown Function>",
                  "**** <Unknown File>, 323", "x"}));
}

TEST(XJAssertionHandler, ThreadWithoutHandlerRaisesAndLogsNothing) {
    ASSERT_FALSE(XJAssertionHandler::currentHandler());
    LogCapture capture;
    try {
        checkedHalf(5);
        FAIL() << "no exception";
    } catch (const XJAssertionFailure& failure) {
        EXPECT_STREQ(failure.what(), "odd value 5");
    }
    EXPECT_TRUE(capture.lines().empty());
}
