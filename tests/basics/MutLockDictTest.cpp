#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "basics/MutLockDict.h"
#include "support/TestJar.h"

using namespace vitrine;
using vitrine::testing::jar;
using vitrine::testing::TestJar;

using JarDict = MutLockDict<TestJar>;

TEST(MutLockDict, NegativeCapacityFailsOnlyForCreateWithCapacity) {
    EXPECT_EQ(JarDict::createWithCapacity(-1), nullptr);
    ASSERT_NE(JarDict::createWithCapacity(0), nullptr);
    ASSERT_NE(JarDict::dictionaryWithCapacity(-1), nullptr);
    EXPECT_EQ(JarDict::dictionaryWithDict(nullptr)->lockCount(), 0u);
    const JarDict::Map entries{{"a", jar("a")}};
    EXPECT_EQ(JarDict::dictionaryWithDict(&entries)->lockObjectForKey("a"), entries.at("a"));
}

TEST(MutLockDict, EmptyMapAnswersNullKeyListsButAnEmptyLockedValueList) {
    JarDict dict;
    EXPECT_EQ(dict.lockAllKeys(), std::nullopt);
    EXPECT_EQ(dict.allValues(), std::nullopt);
    EXPECT_TRUE(dict.lockAllValues().empty());
    dict.lockSetObject(jar("a"), "k");
    EXPECT_EQ(*dict.lockAllKeys(), std::vector<std::string>{"k"});
    EXPECT_EQ(dict.allValues()->size(), 1u);
}

TEST(MutLockDict, NullKeysAndObjectsDoNothing) {
    JarDict dict;
    dict.lockSetObject(nullptr, "k");
    dict.lockSetObject(jar("a"), std::nullopt);
    dict.lockSetValue(jar("a"), std::nullopt);
    EXPECT_EQ(dict.lockCount(), 0u);
    EXPECT_EQ(dict.lockObjectForKey(std::nullopt), nullptr);
    dict.lockSetObject(jar("a"), "k");
    dict.lockRemoveObjectForKey(std::nullopt);
    dict.lockRemoveObjectForKey("absent");
    EXPECT_EQ(dict.lockCount(), 1u);
    dict.lockAddEntriesFromDictionary(nullptr);
    EXPECT_EQ(dict.lockCount(), 1u);
}

TEST(MutLockDict, SettingAndAddingEntriesReplacesUnderEqualKeys) {
    JarDict dict;
    auto first = jar("first");
    auto second = jar("second");
    dict.lockSetObject(first, "port");
    dict.lockSetValue(second, std::string("port"));
    EXPECT_EQ(dict.lockObjectForKey("port"), second);
    const JarDict::Map more{{"port", first}, {"address", second}};
    dict.lockAddEntriesFromDictionary(&more);
    EXPECT_EQ(dict.lockCount(), 2u);
    EXPECT_EQ(dict.lockObjectForKey("port"), first);
    const JarDict::Map copy = dict.lockCreateDictCopy();
    dict.lockRemoveObjectForKey("port");
    EXPECT_EQ(copy.size(), 2u);  // the copy is the caller's own
    EXPECT_EQ(dict.lockObjectForKey("port"), nullptr);
}

TEST(MutLockDict, PerformReachesEveryValueAndReleaseHappensOnce) {
    std::atomic<int> destroyed{0};
    {
        JarDict dict;
        dict.lockSetObject(jar("a", &destroyed), "1");
        dict.lockSetObject(jar("b", &destroyed), "2");
        dict.lockMakeObjectsPerformSelector([](TestJar& j, int by) { j.calls += by; }, 2);
        for (const auto& value : dict.lockAllValues()) EXPECT_EQ(value->calls, 2);
        EXPECT_EQ(destroyed.load(), 0);
    }
    EXPECT_EQ(destroyed.load(), 2);
}

TEST(MutLockDict, Description) {
    JarDict dict;
    EXPECT_EQ(dict.description(), "<MutLockDict: {\n}>");
    dict.lockSetObject(jar("a"), "k");
    EXPECT_EQ(dict.description(), "<MutLockDict: {\n    k = <Jar a>;\n}>");
}
