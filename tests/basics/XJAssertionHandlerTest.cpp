#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basics/Log.h"
#include "basics/XJAssertionHandler.h"

using namespace vitrine;

namespace {

// Installs a handler on the test's thread for the test's duration.
struct InstalledHandler {
    InstalledHandler()
        : previous(XJAssertionHandler::setCurrentHandler(std::make_shared<XJAssertionHandler>())) {}
    ~InstalledHandler() { XJAssertionHandler::setCurrentHandler(previous); }
    std::shared_ptr<XJAssertionHandler> previous;
};

int checkedHalf(int value) {
    XJAssert(value % 2 == 0, "odd value %d", value);
    return value / 2;
}
constexpr long kCheckedHalfAssertLine = __LINE__ - 3;

}  // namespace

TEST(XJAssertionHandler, FunctionFailureLogsFourLinesAndCarriesOn) {
    InstalledHandler installed;
    LogCapture capture;
    EXPECT_EQ(checkedHalf(7), 3);
    const std::vector<std::string> expected = {
        "**** ERR: assertion failure!",
        "**** checkedHalf",
        std::string("**** ") + __FILE__ + ", " + std::to_string(kCheckedHalfAssertLine),
        "odd value 7",
    };
    EXPECT_EQ(capture.lines(), expected);
}

TEST(XJAssertionHandler, MethodFailureLogsFiveLines) {
    InstalledHandler installed;
    LogCapture capture;
    bool after = false;
    XJAssertInMethod(1 + 1 == 3, "-[OSCNode addLocalNode:]", "<OSCNode: /a>", "bad %s", "n");
    const long line = __LINE__ - 1;
    after = true;
    EXPECT_TRUE(after);
    const std::vector<std::string> expected = {
        "**** ERR: assertion failure!",
        "**** method: -[OSCNode addLocalNode:]",
        std::string("**** ") + __FILE__ + ", " + std::to_string(line),
        "**** object: <OSCNode: /a>",
        "bad n",
    };
    EXPECT_EQ(capture.lines(), expected);
}

TEST(XJAssertionHandler, MissingNamesFallBack) {
    InstalledHandler installed;
    LogCapture capture;
    xjAssertionFailedInFunction(nullptr, "", 323, "%s", "x");
    const std::vector<std::string> expected = {
        "**** ERR: assertion failure!",
        "**** <Unknown Function>",
        "**** <Unknown File>, 323",
        "x",
    };
    EXPECT_EQ(capture.lines(), expected);
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
    EXPECT_EQ(checkedHalf(4), 2);
}
