#include <gtest/gtest.h>

#include <stdexcept>

#include "basics/Log.h"
#include "basics/MutLockArray.h"
#include "basics/MutLockDict.h"
#include "support/TestJar.h"

using namespace vitrine;
using namespace vitrine::testing;

namespace {

using JarArray = MutLockArray<TestJar>;
using JarDict = MutLockDict<TestJar>;
using Jars = JarArray::Array;
using Names = std::vector<std::string>;

// Converts to its jar, or throws: stands in for anything that fails while a list is refilled.
struct JarOrFailure {
    std::shared_ptr<TestJar> jar;
    operator std::shared_ptr<TestJar>() const {
        return jar ? jar : throw std::runtime_error("list went away");
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
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(jar("b").get()), kNotFoundIndex);
    const Jars twice{a, a};  // each removes at most the first element that is that very object
    array.lockRemoveIdenticalPtrsInArray(&twice);
    EXPECT_EQ(array.lockCreateArrayCopy(), (Jars{b, a}));
    array.lockAddObject(jar("a"));
    array.lockRemoveObject(jar("a"));  // equal to both, identical to neither: removes both
    EXPECT_EQ(array.lockCreateArrayCopy(), Jars{b});
}

TEST(MutLockArray, IndexesOutsideTheListChangeNothing) {
    JarArray array;
    array.lockRemoveLastObject();
    array.lockAddObjectsFromArray(Jars{jar("a"), jar("b"), jar("c")});
    EXPECT_FALSE(array.lockInsertObject(jar("x"), 4));  // above the count
    for (const std::uint64_t outside : {std::uint64_t{3}, ~std::uint64_t{0}}) {
        EXPECT_EQ(array.lockObjectAtIndex(outside), nullptr);
        array.lockRemoveObjectAtIndex(outside);
    }
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

TEST(MutLockArray, AFailedRefillIsLoggedAndReleasesTheLockAndAListMayReadItself) {
    auto array = JarArray::arrayWithCapacity(4);
    const std::vector<JarOrFailure> failing{{jar("a")}, {jar("b")}, {nullptr}};
    LogCapture capture;
    array->lockReplaceWithObjectsFromArray(failing);
    EXPECT_EQ(capture.lines(),
              Names{"\t\tERR: -[MutLockArray replaceWithObjectsFromArray:] - list went away"});
    array->wrlock();                    // hangs if the failed refill kept the lock
    array->addObjectsFromArray(array);  // its own content, once
    array->replaceWithObjectsFromArray(array);
    array->unlock();
    EXPECT_EQ(names(*array), (Names{"a", "b", "a", "b"}));
}

TEST(MutLockArray, SortsAndCallsSkipNullSlotsPlacedThroughTheInnerList) {
    auto pot = jar("pot"), vase = jar("vase"), vase2 = jar("vase");
    vase2->calls = 4;
    JarArray array;
    array.lockAddObjectsFromArray(Jars{vase, pot, nullptr, vase2});
    array.wrlock();
    array.array().push_back(nullptr);
    array.unlock();
    const std::vector<SortDescriptor<TestJar>> byNameThenCallsDown{
        SortDescriptor<TestJar>::byKey(&TestJar::name),
        SortDescriptor<TestJar>::byKey(&TestJar::calls, false)};
    array.lockSortUsingDescriptors(&byNameThenCallsDown);
    EXPECT_EQ(array.lockCreateArrayCopy(), (Jars{nullptr, pot, vase2, vase}));
    array.lockMakeObjectsPerformSelector([](TestJar& j, int by) { j.calls += by; }, 1);
    EXPECT_EQ(*array.lockValueForKey(&TestJar::calls), (std::vector<int>{0, 1, 5, 1}));
}

TEST(LockedCollections, DescriptionsOfJarsAndOfElementsThatAreNoXJObject) {
    JarArray array;
    array.lockAddObjectsFromArray(Jars{jar("a"), jar("b")});
    EXPECT_EQ(array.description(), "<MutLockArray: (\n    <Jar a>,\n    <Jar b>\n)>");
    JarDict dict;
    dict.lockSetObject(jar("c"), "k");
    EXPECT_EQ(dict.description(), "<MutLockDict: {\n    k = <Jar c>;\n}>");
    MutLockArray<std::string> strings;  // compared and described through their own operators
    strings.lockAddObject(std::make_shared<std::string>("port"));
    EXPECT_TRUE(strings.lockContainsObject(std::make_shared<std::string>("port")));
    EXPECT_EQ(strings.description(), "<MutLockArray: (\n    port\n)>");
}

TEST(MutLockDict, NullKeysObjectsAndCapacitiesAreRefusedAndEqualKeysReplace) {
    EXPECT_EQ(JarDict::createWithCapacity(-1), nullptr);
    JarDict dict;
    dict.lockSetObject(nullptr, "k");
    dict.lockSetObject(jar("a"), std::nullopt);
    EXPECT_EQ(dict.lockAllKeys(), std::nullopt);
    auto first = jar("first"), second = jar("second");
    dict.lockSetObject(first, "k");
    const JarDict::Map more{{"k", second}, {"address", first}};
    dict.lockAddEntriesFromDictionary(&more);
    EXPECT_EQ(dict.lockObjectForKey("k"), second);
    EXPECT_EQ(dict.lockCount(), 2u);
}

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
