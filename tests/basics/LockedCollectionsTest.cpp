#include <gtest/gtest.h>

#include <stdexcept>

#include "basics/Log.h"
#include "basics/MutLockArray.h"
#include "basics/MutLockDict.h"
#include "support/TestJar.h"

using namespace vitrine;
using vitrine::testing::jar;
using vitrine::testing::TestJar;

namespace {

using JarArray = MutLockArray<TestJar>;
using JarDict = MutLockDict<TestJar>;
using Jars = JarArray::Array;
using Names = std::vector<std::string>;

// Converts to its jar, or throws: stands in for anything that fails while a list is refilled.
struct JarOrFailure {
    std::shared_ptr<TestJar> jar;
    operator std::shared_ptr<TestJar>() const {
        if (!jar) throw std::runtime_error("list went away");
        return jar;
    }
};

Names names(JarArray& array) {
    Names out;
    for (const auto& j : array.lockCreateArrayCopy()) out.push_back(j ? j->name : "(null)");
    return out;
}

}  // namespace

TEST(MutLockArray, EqualityAndIdentityStayDistinct) {
    auto a = jar("a"), b = jar("b");
    JarArray array;
    array.lockAddObjectsFromArray(Jars{a, b, a});
    EXPECT_EQ(array.lockIndexOfObject(jar("b")), 1u);
    EXPECT_EQ(array.lockIndexOfObject(jar("z")), kNotFoundIndex);
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(jar("b").get()), kNotFoundIndex);
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(nullptr), kNotFoundIndex);
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(b.get()), 1u);
    // Each argument removes at most the first element that is that very object.
    const Jars twice{a, a};
    array.lockRemoveIdenticalPtrsInArray(&twice);
    EXPECT_EQ(array.lockCreateArrayCopy(), (Jars{b, a}));
    array.lockAddObject(jar("a"));
    array.lockRemoveObject(jar("a"));  // equal to both, identical to neither: removes both
    const Jars toRemove{jar("b")};
    array.lockRemoveObjectsInArray(&toRemove);
    EXPECT_EQ(array.lockCount(), 0u);
}

TEST(MutLockArray, IndexesOutsideTheListChangeNothing) {
    JarArray array;
    EXPECT_EQ(array.lockLastObject(), nullptr);
    array.lockRemoveFirstObject();
    array.lockRemoveLastObject();
    EXPECT_TRUE(array.lockInsertObject(jar("b"), 0));
    EXPECT_TRUE(array.lockInsertObject(jar("c"), 1));   // at the count: appends
    EXPECT_FALSE(array.lockInsertObject(jar("x"), 3));  // above the count
    EXPECT_TRUE(array.lockInsertObject(jar("a"), 0));
    EXPECT_EQ(array.lockObjectAtIndex(~std::uint64_t{0}), nullptr);
    EXPECT_EQ(array.lockObjectAtIndex(3), nullptr);
    array.lockRemoveObjectAtIndex(~std::uint64_t{0});
    array.lockRemoveObjectAtIndex(3);
    // Replacing at indexes needs a set inside the list and as many objects as indexes.
    const IndexSet edges{0, 2}, outside{1, 3}, some{0, 2, 7};
    const Jars one{jar("q")}, two{jar("x"), jar("z")};
    array.lockReplaceObjectsAtIndexes(&edges, &one);
    array.lockReplaceObjectsAtIndexes(&outside, &two);
    EXPECT_EQ(names(array), (Names{"a", "b", "c"}));
    array.lockReplaceObjectsAtIndexes(&edges, &two);
    EXPECT_EQ(*array.lockObjectsAtIndexes(&some), two);
    array.lockRemoveObjectsAtIndexes(&some);
    EXPECT_EQ(names(array), (Names{"b"}));
}

TEST(MutLockArray, RefillsKeepContentForNullLogAFailureAndMayReadThemselves) {
    auto array = JarArray::arrayWithCapacity(4);
    array->lockAddObject(jar("old"));
    array->lockReplaceWithObjectsFromArray(nullptr);
    EXPECT_EQ(names(*array), (Names{"old"}));
    const std::vector<JarOrFailure> failing{{jar("a")}, {jar("b")}, {nullptr}};
    LogCapture capture;
    array->lockReplaceWithObjectsFromArray(failing);
    EXPECT_EQ(capture.lines(),
              Names{"\t\tERR: -[MutLockArray replaceWithObjectsFromArray:] - list went away"});
    // The lock was released: these would hang otherwise.
    array->wrlock();
    array->addObjectsFromArray(array);  // its own content, once
    array->replaceWithObjectsFromArray(array);
    array->unlock();
    EXPECT_EQ(names(*array), (Names{"a", "b", "a", "b"}));
}

TEST(MutLockArray, CallablesSortsAndNullSlotsFromTheInnerList) {
    JarArray array;
    EXPECT_EQ(array.lockFilteredArrayUsingPredicate([](const TestJar&) { return true; }),
              std::nullopt);  // empty collection
    auto pot = jar("pot"), vase = jar("vase"), vase2 = jar("vase");
    vase2->calls = 4;
    array.lockAddObjectsFromArray(Jars{vase, pot, vase2});
    EXPECT_EQ(*array.lockFilteredArrayUsingPredicate([](const TestJar& j) { return j.name > "q"; }),
              (Jars{vase, vase2}));
    EXPECT_EQ(array.lockValueForKey(static_cast<std::string TestJar::*>(nullptr)), std::nullopt);
    const std::vector<SortDescriptor<TestJar>> byNameThenCallsDown{
        SortDescriptor<TestJar>::byKey(&TestJar::name),
        SortDescriptor<TestJar>::byKey(&TestJar::calls, false)};
    array.lockSortUsingDescriptors(&byNameThenCallsDown);
    EXPECT_EQ(array.lockCreateArrayCopy(), (Jars{pot, vase2, vase}));
    array.wrlock();
    array.array().push_back(nullptr);
    array.unlock();
    array.lockMakeObjectsPerformSelector([](TestJar& j, int by) { j.calls += by; }, 1);
    EXPECT_EQ(array.lockIndexOfObject(jar("x")), kNotFoundIndex);
    array.lockSortUsingSelector(&TestJar::compare);
    EXPECT_EQ(names(array), (Names{"(null)", "pot", "vase", "vase"}));
    EXPECT_EQ(*array.lockValueForKey(&TestJar::calls), (std::vector<int>{0, 1, 5, 1}));
}

TEST(LockedCollections, DescriptionsAndReleaseOfEveryElementExactlyOnce) {
    std::atomic<int> destroyed{0};
    {
        JarArray array;
        array.lockAddObjectsFromArray(Jars{jar("a", &destroyed), jar("b", &destroyed)});
        EXPECT_EQ(array.description(), "<MutLockArray: (\n    <Jar a>,\n    <Jar b>\n)>");
        JarDict dict;
        dict.lockSetObject(jar("c", &destroyed), "k");
        EXPECT_EQ(dict.description(), "<MutLockDict: {\n    k = <Jar c>;\n}>");
    }
    EXPECT_EQ(destroyed.load(), 3);
    // Elements that are no XJObject compare and describe through their own operators.
    MutLockArray<std::string> strings;
    strings.lockAddObject(std::make_shared<std::string>("port"));
    EXPECT_TRUE(strings.lockContainsObject(std::make_shared<std::string>("port")));
    EXPECT_EQ(strings.description(), "<MutLockArray: (\n    port\n)>");
}

TEST(MutLockDict, NullKeysObjectsAndCapacitiesAreRefusedAndEqualKeysReplace) {
    EXPECT_EQ(JarDict::createWithCapacity(-1), nullptr);
    EXPECT_EQ(JarDict::dictionaryWithDict(nullptr)->lockCount(), 0u);
    JarDict dict;
    EXPECT_EQ(dict.lockAllKeys(), std::nullopt);
    dict.lockSetObject(nullptr, "k");
    dict.lockSetObject(jar("a"), std::nullopt);
    EXPECT_EQ(dict.lockCount(), 0u);
    auto first = jar("first"), second = jar("second");
    dict.lockSetObject(first, "k");
    dict.lockSetObject(second, "k");
    EXPECT_EQ(dict.lockObjectForKey("k"), second);
    const JarDict::Map more{{"k", first}, {"address", second}};
    dict.lockAddEntriesFromDictionary(&more);
    EXPECT_EQ(dict.lockObjectForKey("k"), first);
    dict.lockMakeObjectsPerformSelector([](TestJar& j, int by) { j.calls += by; }, 2);
    EXPECT_EQ(first->calls + second->calls, 4);
}

// One guard template serves every collection: it must take the mode it names, for its scope.
TEST(ScopedGuards, TakeTheModeTheyNameForTheirScope) {
    JarArray array;
    {
        auto writing = array.writeLocked();
        EXPECT_FALSE(array.tryRdLock());
    }
    auto reading = array.readLocked();
    ASSERT_TRUE(array.tryRdLock());  // readers share, and the writer's scope has ended
    array.unlock();
}
