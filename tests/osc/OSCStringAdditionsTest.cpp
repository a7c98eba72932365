#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>

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
