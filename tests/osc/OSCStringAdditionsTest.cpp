#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <regex.h>

#include "basics/Log.h"
#include "osc/OSCPOSIXRegExpHolder.h"
#include "osc/OSCStringAdditions.h"

using namespace vitrine;

using OptionalTable = std::vector<std::pair<std::string, std::optional<std::string>>>;

TEST(OSCStringAdditions, AddressNormalisingSanitisingAndComponents) {
    const OptionalTable normalised = {
        {"", std::nullopt}, {"/", "/"},  {"/a/b", "/a/b"}, {"/a/", "/a"}, {"//", "/"},
        {"a//", "/a/"},     {"a", "/a"}, {"///", "//"},    {"/é/", "/é"},
    };
    for (const auto& [input, expected] : normalised)
        EXPECT_EQ(stringByDeletingLastAndAddingFirstSlash(input), expected) << '"' << input << '"';
    const OptionalTable sanitised = {
        {"", std::nullopt},     {"/", std::nullopt}, {"//", std::nullopt}, {"a//b", std::nullopt},
        {"/a//", std::nullopt}, {"a/", "/a"},        {"/a/b", "/a/b"},     {"/é", "/é"},
    };
    for (const auto& [input, expected] : sanitised)
        EXPECT_EQ(stringBySanitizingForOSCPath(input), expected) << '"' << input << '"';
    // At most one slash is trimmed from each end; any more become components of their own.
    const OptionalTable withoutFirst = {
        {"/a/b/c", "/b/c"},   {"a", ""},   {"a/b/", "/b"},    {"", std::nullopt},
        {"//", std::nullopt}, {"///", ""}, {"//a/b", "/a/b"}, {"/a/b//", "/b//"},
    };
    for (const auto& [input, expected] : withoutFirst)
        EXPECT_EQ(stringByDeletingFirstPathComponent(input), expected) << '"' << input << '"';
    const OptionalTable first = {
        {"/a/b", "a"}, {"a//b/", "a"}, {"//a//", "/"}, {"/", std::nullopt}, {"//", std::nullopt},
    };
    for (const auto& [input, expected] : first)
        EXPECT_EQ(firstPathComponent(input), expected) << '"' << input << '"';
    EXPECT_EQ(stringFromRawIPAddress(htonl(0xC0A801FF)), "192.168.1.255");
    EXPECT_EQ(stringFromRawIPAddress(htonl(INADDR_LOOPBACK)), "127.0.0.1");
}

TEST(OSCStringAdditions, WildcardCharactersAreExactlyTheTenPatternCharacters) {
    for (char c : std::string("[\\^$.|?*+("))
        EXPECT_TRUE(containsOSCWildCard(std::string("/a") + c));
    for (const char* text : {"/a/{b,c}", "/a]", "/a!", "/a)", "/a/b-c_d", "", "/#reply"})
        EXPECT_FALSE(containsOSCWildCard(text)) << text;
}

TEST(OSCStringAdditions, StringWithBytesAcceptsOnlyWellFormedUTF8) {
    const std::vector<std::pair<std::vector<uint8_t>, std::string>> valid = {
        {{0xC3, 0xA9}, "é"},
        {{0xE2, 0x82, 0xAC}, "€"},
        {{0xF0, 0x9F, 0x8F, 0xBA}, "\U0001F3FA"},
        {{0xEF, 0xBF, 0xBF}, "\uFFFF"},
        {{0xF4, 0x8F, 0xBF, 0xBF}, "\U0010FFFF"},
        {{'a', 0, 'b'}, std::string("a\0b", 3)},
    };
    for (const auto& [bytes, text] : valid)
        EXPECT_EQ(stringWithBytes(bytes.data(), bytes.size()), text);
    const std::vector<std::vector<uint8_t>> invalid = {
        {0x80},                    // continuation byte without a lead
        {0xC3},                    // cut short by the end
        {0xF0, 0x9F, 0x8F},        // cut short by the end
        {0xC3, 'a'},               // lead followed by a non-continuation
        {0xC0, 0xAF},              // overlong "/"
        {0xE0, 0x80, 0xAF},        // overlong "/"
        {0xE0, 0x9F, 0xBF},        // overlong U+07FF
        {0xF0, 0x8F, 0xBF, 0xBF},  // overlong U+FFFF
        {0xED, 0xA0, 0x80},        // surrogate U+D800
        {0xED, 0xBF, 0xBF},        // surrogate U+DFFF
        {0xF4, 0x90, 0x80, 0x80},  // above U+10FFFF
        {0xF5, 0x80, 0x80, 0x80},  // lead byte never used
        {0xFF},
        {'o', 'k', 0xE2, 0x28, 0xA1},
    };
    for (const auto& bytes : invalid)
        EXPECT_EQ(stringWithBytes(bytes.data(), bytes.size()), std::nullopt) << bytes.size();
    EXPECT_EQ(stringWithBytes(nullptr, 0), "");
    EXPECT_EQ(stringWithBytes(nullptr, 1), std::nullopt);
    // Exactly `length` bytes are decoded, whatever follows them.
    const uint8_t longer[] = {'a', 'b', 0xC3};
    EXPECT_EQ(stringWithBytes(longer, 2), "ab");
}

TEST(OSCStringAdditions, PredicateMatchesTheWholeTextAndSlowRegexLogsFailures) {
    LogCapture capture;
    const std::vector<std::tuple<std::string, std::optional<std::string>, bool>> table = {
        {"foo", "f.o", true},      {"xfooy", "f.o", false}, {"ch12", "ch(1|2)", false},
        {"abab", "ab|abab", true},  // longest, not first, alternative
        {"", "a*", true},          {"foo", "", false},      {"foo", std::nullopt, false},
        {"foo", "(", false},       {"éa", "..a", true},     {std::string("a\0b", 3), "a.b", false},
    };
    for (const auto& [text, regex, expected] : table)
        EXPECT_EQ(predicateMatchAgainstRegex(text, regex), expected)
            << '"' << text << "\" " << regex.value_or("(null)");
    EXPECT_TRUE(capture.lines().empty());

    EXPECT_TRUE(posixMatchAgainstSlowRegex("xfooy", "f.o"));
    EXPECT_FALSE(posixMatchAgainstSlowRegex("bar", "f.o"));
    EXPECT_FALSE(posixMatchAgainstSlowRegex("foo", "("));
    // Texts the C matcher cannot take are refused without running it.
    EXPECT_FALSE(posixMatchAgainstSlowRegex("foo", std::nullopt));
    EXPECT_FALSE(posixMatchAgainstSlowRegex("foo", "f.é"));
    EXPECT_FALSE(posixMatchAgainstSlowRegex("fée", "f.e"));
    EXPECT_FALSE(posixMatchAgainstSlowRegex(std::string("fo\0o", 4), "f"));
    EXPECT_FALSE(posixMatchAgainstFastRegex("foo", std::nullopt));
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{
                  stringWithFormat("\t\terr %d while executing regex", REG_NOMATCH),
                  stringWithFormat("\t\terr %d while compiling regex", REG_EPAREN)}));
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
    for (const auto& name : {std::optional<std::string>(), std::optional<std::string>("fée"),
                             std::optional<std::string>(std::string("f\0oo", 4))})
        EXPECT_FALSE(holder->evalAgainstString(name));
    EXPECT_TRUE(capture.lines().empty());

    EXPECT_EQ(OSCPOSIXRegExpHolder::createWithString("("), nullptr);
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{stringWithFormat(
                  "\t\terr %d while compiling regex in -[OSCPOSIXRegExpHolder initWithString:]",
                  REG_EPAREN)});
    // No expression and non-ASCII expressions never reach the compiler and are not logged.
    const auto before = OSCPOSIXRegExpHolder::compilationCount();
    EXPECT_EQ(OSCPOSIXRegExpHolder::createWithString(std::nullopt), nullptr);
    EXPECT_EQ(OSCPOSIXRegExpHolder::createWithString("ch.é"), nullptr);
    EXPECT_EQ(OSCPOSIXRegExpHolder::createWithString(std::string("a\0(", 3)), nullptr);
    EXPECT_EQ(OSCPOSIXRegExpHolder::compilationCount(), before);
    EXPECT_EQ(capture.lines().size(), 1u);
}
