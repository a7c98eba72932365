#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <regex.h>

#include <cstring>

#include "basics/Log.h"
#include "osc/OSCStringAdditions.h"

using namespace vitrine;

TEST(OSCStringAdditions, NormalisesLeadingAndTrailingSlash) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> table = {
        {"", std::nullopt}, {"/", "/"},      {"/a", "/a"},  {"/a/b", "/a/b"},
        {"/a/", "/a"},      {"//", "/"},     {"a/", "/a"},  {"a//", "/a/"},
        {"a", "/a"},        {"a/b", "/a/b"}, {"///", "//"}, {"/é/", "/é"},
    };
    for (const auto& [input, expected] : table)
        EXPECT_EQ(stringByDeletingLastAndAddingFirstSlash(input), expected) << '"' << input << '"';
}

TEST(OSCStringAdditions, WildcardCharactersAreExactlyTheTenPatternCharacters) {
    for (char c : std::string("[\\^$.|?*+(")) {
        EXPECT_TRUE(containsOSCWildCard(std::string("/a") + c + "b")) << c;
    }
    for (const char* text : {"/a/{b,c}", "/a]", "/a!", "/a)", "/a/b-c_d", "", "/#reply"}) {
        EXPECT_FALSE(containsOSCWildCard(text)) << text;
    }
}

TEST(OSCStringAdditions, StringWithBytesAcceptsOnlyWellFormedUTF8) {
    const auto decode = [](std::initializer_list<uint8_t> bytes) {
        const std::vector<uint8_t> buffer(bytes);
        return stringWithBytes(buffer.data(), buffer.size());
    };
    EXPECT_EQ(decode({'/', 'a'}), "/a");
    EXPECT_EQ(decode({0xC3, 0xA9}), "é");
    EXPECT_EQ(decode({0xE2, 0x82, 0xAC}), "€");
    EXPECT_EQ(decode({0xF0, 0x9F, 0x8F, 0xBA}), "\U0001F3FA");
    EXPECT_EQ(decode({0xEF, 0xBF, 0xBF}), "\uFFFF");
    EXPECT_EQ(decode({0xF4, 0x8F, 0xBF, 0xBF}), "\U0010FFFF");
    EXPECT_EQ(decode({'a', 0, 'b'}), std::string("a\0b", 3));
    EXPECT_EQ(stringWithBytes(nullptr, 0), "");

    const std::vector<std::vector<uint8_t>> invalid = {
        {0x80},                    // continuation byte without a lead
        {0xC3},                    // cut short by the end
        {0xE2, 0x82},              // cut short by the end
        {0xF0, 0x9F, 0x8F},        // cut short by the end
        {0xC3, 'a'},               // lead followed by a non-continuation
        {0xC0, 0xAF},              // overlong "/"
        {0xC1, 0xBF},              // overlong
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
    for (const auto& bytes : invalid) {
        EXPECT_EQ(stringWithBytes(bytes.data(), bytes.size()), std::nullopt) << bytes.size();
    }
    EXPECT_EQ(stringWithBytes(nullptr, 1), std::nullopt);
    // Exactly `length` bytes are decoded, whatever follows them.
    const uint8_t longer[] = {'a', 'b', 0xC3};
    EXPECT_EQ(stringWithBytes(longer, 2), "ab");
}

TEST(OSCStringAdditions, RawIPAddressInNetworkOrderIsDottedDecimal) {
    const uint8_t broadcast[4] = {192, 168, 1, 255};
    uint32_t raw;
    std::memcpy(&raw, broadcast, sizeof raw);
    EXPECT_EQ(stringFromRawIPAddress(raw), "192.168.1.255");
    EXPECT_EQ(stringFromRawIPAddress(htonl(INADDR_LOOPBACK)), "127.0.0.1");
    EXPECT_EQ(stringFromRawIPAddress(0), "0.0.0.0");
}

using OptionalTable = std::vector<std::pair<std::string, std::optional<std::string>>>;

TEST(OSCStringAdditions, TrimsAtMostOneSlashFromEachEnd) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"", ""},    {"/", ""},        {"a", "a"},       {"//", ""},   {"///", "/"}, {"/a", "a"},
        {"a/", "a"}, {"/a/b/", "a/b"}, {"//a//", "/a/"}, {"ab", "ab"}, {"/é/", "é"},
    };
    for (const auto& [input, expected] : table)
        EXPECT_EQ(trimFirstAndLastSlashes(input), expected) << '"' << input << '"';
}

TEST(OSCStringAdditions, PathComponentsSplitLikeFilePaths) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> table = {
        {"", {}},
        {"/", {"/"}},
        {"///", {"/"}},
        {"a", {"a"}},
        {"a/b", {"a", "b"}},
        {"a//b", {"a", "b"}},
        {"//a", {"/", "a"}},
        {"a/", {"a", "/"}},
        {"/a//b//", {"/", "a", "b", "/"}},
    };
    for (const auto& [input, expected] : table)
        EXPECT_EQ(pathComponents(input), expected) << '"' << input << '"';
}

TEST(OSCStringAdditions, TakesTheFirstComponentOffOrOut) {
    const OptionalTable withoutFirst = {
        {"/a/b/c", "/b/c"},
        {"/a", ""},
        {"a", ""},
        {"a/b/", "/b"},
        {"", std::nullopt},
        {"/", std::nullopt},
        {"//", std::nullopt},
        // Slashes beyond the one trimmed from each end become components of their own.
        {"///", ""},
        {"//a/b", "/a/b"},
        {"/a/b//", "/b//"},
    };
    for (const auto& [input, expected] : withoutFirst)
        EXPECT_EQ(stringByDeletingFirstPathComponent(input), expected) << '"' << input << '"';

    const OptionalTable first = {
        {"/a/b", "a"},      {"a", "a"},          {"a//b/", "a"},       {"//a//", "/"},
        {"", std::nullopt}, {"/", std::nullopt}, {"//", std::nullopt},
    };
    for (const auto& [input, expected] : first)
        EXPECT_EQ(firstPathComponent(input), expected) << '"' << input << '"';
}

TEST(OSCStringAdditions, SanitisingGivesTheCanonicalAddressOrNothing) {
    const OptionalTable table = {
        {"", std::nullopt},     {"/", std::nullopt}, {"//", std::nullopt}, {"a//b", std::nullopt},
        {"/a//", std::nullopt}, {"a", "/a"},         {"a/", "/a"},         {"/a/", "/a"},
        {"/a", "/a"},           {"/a/b", "/a/b"},    {"a/b/", "/a/b"},     {"/é", "/é"},
    };
    for (const auto& [input, expected] : table)
        EXPECT_EQ(stringBySanitizingForOSCPath(input), expected) << '"' << input << '"';
}

TEST(OSCStringAdditions, PredicateMatchesTheWholeTextOnly) {
    LogCapture capture;
    struct Case {
        std::string text;
        std::optional<std::string> regex;
        bool expected;
    };
    const std::vector<Case> table = {
        {"foo", "f.o", true},
        {"xfooy", "f.o", false},
        {"ch2", "ch(1|2)", true},
        {"ch12", "ch(1|2)", false},
        {"abab", "ab|abab", true},  // longest, not first, alternative
        {"", "a*", true},
        {"foo", "", false},
        {"foo", std::nullopt, false},
        {"foo", "(", false},
        {"éa", "..a", true},
        {std::string("a\0b", 3), "a.b", false},
    };
    for (const auto& [text, regex, expected] : table)
        EXPECT_EQ(predicateMatchAgainstRegex(text, regex), expected)
            << '"' << text << "\" " << regex.value_or("(null)");
    EXPECT_TRUE(capture.lines().empty());
}

TEST(OSCStringAdditions, SlowRegexLogsCompileErrorsAndEveryNonMatch) {
    LogCapture capture;
    EXPECT_TRUE(posixMatchAgainstSlowRegex("xfooy", "f.o"));
    EXPECT_TRUE(capture.lines().empty());

    EXPECT_FALSE(posixMatchAgainstSlowRegex("bar", "f.o"));
    EXPECT_FALSE(posixMatchAgainstSlowRegex("foo", "("));
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{
                  stringWithFormat("\t\terr %d while executing regex", REG_NOMATCH),
                  stringWithFormat("\t\terr %d while compiling regex", REG_EPAREN)}));

    // Texts the C matcher cannot take are refused without running it.
    capture.clear();
    EXPECT_FALSE(posixMatchAgainstSlowRegex("foo", std::nullopt));
    EXPECT_FALSE(posixMatchAgainstSlowRegex("foo", "f.é"));
    EXPECT_FALSE(posixMatchAgainstSlowRegex("fée", "f.e"));
    EXPECT_FALSE(posixMatchAgainstSlowRegex(std::string("fo\0o", 4), "f"));
    EXPECT_TRUE(capture.lines().empty());
}
