#include <gtest/gtest.h>

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
