#include <gtest/gtest.h>

#include <regex.h>

#include "basics/Log.h"
#include "osc/OSCPOSIXRegExpHolder.h"
#include "osc/OSCStringAdditions.h"

using namespace vitrine;

namespace {
const std::string kCompileError = stringWithFormat(
    "\t\terr %d while compiling regex in -[OSCPOSIXRegExpHolder initWithString:]", REG_EPAREN);
}

// Components are unanchored extended expressions; OSC's own pattern forms are not translated.
TEST(OSCPOSIXRegExpHolder, MatchesAnywhereInTheNameAndRefusesWhatCannotBeCompiled) {
    LogCapture capture;
    const std::vector<std::tuple<std::string, std::string, bool>> table = {
        {"f.o", "xfooy", true},      {"f.o", "fo", false},      {"^foo$", "xfoo", false},
        {"ch(1|2)", "mych2x", true}, {"ch(1|2)", "ch3", false}, {"a{2}", "caab", true},
        {"[!a]x", "ax", true},       {"[!a]x", "bx", false},
    };
    for (const auto& [regex, name, expected] : table) {
        const auto holder = OSCPOSIXRegExpHolder::createWithString(regex);
        ASSERT_NE(holder, nullptr) << regex;
        EXPECT_EQ(holder->evalAgainstString(name), expected) << regex << " on " << name;
    }
    const auto holder = OSCPOSIXRegExpHolder::createWithString("f.o");
    EXPECT_FALSE(holder->evalAgainstString(std::nullopt));
    EXPECT_FALSE(holder->evalAgainstString("fée"));
    EXPECT_FALSE(holder->evalAgainstString(std::string("f\0oo", 4)));
    EXPECT_TRUE(capture.lines().empty());

    EXPECT_EQ(OSCPOSIXRegExpHolder::createWithString("("), nullptr);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{kCompileError});
    // No expression and non-ASCII expressions never reach the compiler and are not logged.
    const auto before = OSCPOSIXRegExpHolder::compilationCount();
    EXPECT_EQ(OSCPOSIXRegExpHolder::createWithString(std::nullopt), nullptr);
    EXPECT_EQ(OSCPOSIXRegExpHolder::createWithString("ch.é"), nullptr);
    EXPECT_EQ(OSCPOSIXRegExpHolder::createWithString(std::string("a\0(", 3)), nullptr);
    EXPECT_EQ(OSCPOSIXRegExpHolder::compilationCount(), before);
    EXPECT_EQ(capture.lines().size(), 1u);
}

TEST(OSCRegexCache, CompilesAValidExpressionOnceAndAnInvalidOneOnEveryCall) {
    LogCapture capture;
    static int run = 0;  // the cache outlives the test; each repetition needs a new expression
    const std::string regex = "^cache-once-[0-9]+$|never-" + std::to_string(++run);
    const auto before = OSCPOSIXRegExpHolder::compilationCount();
    EXPECT_TRUE(posixMatchAgainstFastRegex("cache-once-12", regex));
    EXPECT_FALSE(posixMatchAgainstFastRegex("cache-once-x", regex));  // no line, unlike slow
    EXPECT_TRUE(posixMatchAgainstFastRegex("cache-once-3", regex));
    EXPECT_EQ(OSCPOSIXRegExpHolder::compilationCount(), before + 1);
    EXPECT_TRUE(capture.lines().empty());

    for (int i = 0; i < 3; ++i) EXPECT_FALSE(posixMatchAgainstFastRegex("(", "("));
    EXPECT_EQ(OSCPOSIXRegExpHolder::compilationCount(), before + 4);
    EXPECT_FALSE(posixMatchAgainstFastRegex("foo", std::nullopt));
    EXPECT_EQ(capture.lines(), std::vector<std::string>(3, kCompileError));
}
