#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "basics/Log.h"
#include "basics/MutLockArray.h"
#include "support/TestJar.h"

using namespace vitrine;
using vitrine::testing::jar;
using vitrine::testing::TestJar;

namespace {

using JarArray = MutLockArray<TestJar>;
using Jars = JarArray::Array;

std::vector<std::string> names(const Jars& jars) {
    std::vector<std::string> out;
    for (const auto& j : jars) out.push_back(j ? j->name : "(null)");
    return out;
}

std::vector<std::string> names(JarArray& array) {
    return names(array.lockCreateArrayCopy());
}

}  // namespace

TEST(MutLockArray, IndexSentinelsForNullAndAbsentObjects) {
    JarArray array;
    auto a = jar("a");
    array.lockAddObject(a);
    EXPECT_EQ(kNullObjectIndex, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(kNotFoundIndex, 0x7FFFFFFFFFFFFFFFull);
    EXPECT_EQ(array.lockIndexOfObject(nullptr), kNullObjectIndex);
    EXPECT_EQ(array.indexOfObject(nullptr), kNullObjectIndex);
    EXPECT_EQ(array.lockIndexOfObject(jar("z")), kNotFoundIndex);
    EXPECT_EQ(array.lockIndexOfObject(jar("a")), 0u);  // equal, not identical
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(jar("a").get()), kNotFoundIndex);
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(nullptr), kNotFoundIndex);
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(a.get()), 0u);
    EXPECT_FALSE(array.lockContainsObject(nullptr));
    EXPECT_FALSE(array.lockContainsIdenticalPtr(nullptr));
}

TEST(MutLockArray, OutOfRangeIndexesAndNullObjects) {
    JarArray array;
    EXPECT_EQ(array.lockFirstObject(), nullptr);
    EXPECT_EQ(array.lockLastObject(), nullptr);
    array.lockRemoveFirstObject();
    array.lockRemoveLastObject();
    array.lockRemoveObjectAtIndex(0);
    array.lockAddObject(nullptr);
    EXPECT_EQ(array.lockCount(), 0u);

    EXPECT_TRUE(array.lockInsertObject(jar("b"), 0));
    EXPECT_TRUE(array.lockInsertObject(jar("c"), 1));   // at the count: appends
    EXPECT_FALSE(array.lockInsertObject(jar("x"), 3));  // above the count
    EXPECT_FALSE(array.lockInsertObject(nullptr, 0));
    EXPECT_FALSE(array.insertObject(nullptr, 0));
    EXPECT_TRUE(array.lockInsertObject(jar("a"), 0));
    EXPECT_EQ(names(array), (std::vector<std::string>{"a", "b", "c"}));

    EXPECT_EQ(array.lockObjectAtIndex(~std::uint64_t{0}), nullptr);
    EXPECT_EQ(array.lockObjectAtIndex(3), nullptr);
    EXPECT_EQ(array.lockObjectAtIndex(2)->name, "c");
    array.lockRemoveObjectAtIndex(~std::uint64_t{0});
    array.lockRemoveObjectAtIndex(3);
    EXPECT_EQ(array.lockCount(), 3u);

    EXPECT_EQ(array.lockObjectsAtIndexes(nullptr), std::nullopt);
    const IndexSet some{0, 2, 7};
    EXPECT_EQ(names(*array.lockObjectsAtIndexes(&some)), (std::vector<std::string>{"a", "c"}));
    array.lockRemoveObjectsAtIndexes(&some);
    EXPECT_EQ(names(array), (std::vector<std::string>{"b"}));
}

TEST(MutLockArray, RemoveIdenticalPtrsRemovesOnlyTheFirstOccurrencePerArgument) {
    auto a = jar("a");
    auto b = jar("b");
    JarArray array;
    array.lockAddObjectsFromArray(Jars{a, b, a});
    const Jars twice{a, a};
    array.lockRemoveIdenticalPtrsInArray(&twice);
    const Jars left = array.lockCreateArrayCopy();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0], b);
    EXPECT_EQ(left[1], a);
    array.lockRemoveIdenticalPtrsInArray(nullptr);
    EXPECT_EQ(array.lockCount(), 2u);
}

TEST(MutLockArray, EqualityAndIdentityStayDistinct) {
    auto a = jar("a");
    auto equalToA = jar("a");
    JarArray array;
    array.lockAddObjectsFromArray(Jars{a, jar("b"), equalToA});
    array.lockRemoveIdenticalPtr(equalToA.get());
    EXPECT_EQ(names(array), (std::vector<std::string>{"a", "b"}));
    array.lockAddObject(equalToA);
    array.lockRemoveObject(jar("a"));  // equal to both, identical to neither
    EXPECT_EQ(names(array), (std::vector<std::string>{"b"}));
    array.lockAddObjectsFromArray(Jars{a, equalToA});
    const Jars toRemove{jar("b"), jar("a")};
    array.lockRemoveObjectsInArray(&toRemove);
    EXPECT_EQ(array.lockCount(), 0u);
}

TEST(MutLockArray, ReplaceKeepsContentForNullAndEmptiesForEmpty) {
    JarArray array;
    array.lockAddObject(jar("a"));
    array.lockReplaceWithObjectsFromArray(nullptr);
    array.lockReplaceWithObjectsFromArray(std::shared_ptr<JarArray>());
    EXPECT_EQ(names(array), (std::vector<std::string>{"a"}));
    auto source = JarArray::arrayWithCapacity(-1);
    source->lockAddObjectsFromArray(Jars{jar("x"), jar("y")});
    array.lockReplaceWithObjectsFromArray(source);
    EXPECT_EQ(names(array), (std::vector<std::string>{"x", "y"}));
    array.lockAddObjectsFromArray(source);
    EXPECT_EQ(names(array), (std::vector<std::string>{"x", "y", "x", "y"}));
    array.lockReplaceWithObjectsFromArray(Jars{});
    EXPECT_EQ(array.lockCount(), 0u);
}

namespace {
// A list whose iteration fails after two elements, standing in for anything that throws while
// the collection is being refilled.
struct FailingList {
    Jars jars;
    struct iterator {
        using value_type = std::shared_ptr<TestJar>;
        using difference_type = std::ptrdiff_t;
        const FailingList* list = nullptr;
        std::size_t index = 0;
        const value_type& operator*() const {
            if (index >= 2) throw std::runtime_error("list went away");
            return list->jars[index];
        }
        iterator& operator++() {
            ++index;
            return *this;
        }
        void operator++(int) { ++index; }
        bool operator==(const iterator& other) const { return index == other.index; }
    };
    iterator begin() const { return {this, 0}; }
    iterator end() const { return {this, jars.size()}; }
};
}  // namespace

TEST(MutLockArray, ReplaceCatchesAndLogsFailuresKeepingWhatItHolds) {
    JarArray array;
    array.lockAddObject(jar("old"));
    LogCapture capture;
    array.lockReplaceWithObjectsFromArray(FailingList{{jar("a"), jar("b"), jar("c")}});
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"\t\tERR: -[MutLockArray replaceWithObjectsFromArray:] - "
                                       "list went away"});
    EXPECT_EQ(names(array), (std::vector<std::string>{"a", "b"}));
    array.lockAddObject(jar("still usable"));  // the lock was released
    EXPECT_EQ(array.lockCount(), 3u);
}

TEST(MutLockArray, AddingItselfAppendsItsContentOnce) {
    auto array = JarArray::arrayWithCapacity(4);
    array->lockAddObjectsFromArray(Jars{jar("a"), jar("b")});
    array->wrlock();
    array->addObjectsFromArray(array);
    array->replaceWithObjectsFromArray(array);
    array->unlock();
    EXPECT_EQ(names(*array), (std::vector<std::string>{"a", "b", "a", "b"}));
}

TEST(MutLockArray, ReplaceAtIndexesNeedsMatchingCountsInsideTheList) {
    JarArray array;
    array.lockAddObjectsFromArray(Jars{jar("a"), jar("b"), jar("c")});
    const IndexSet indexes{0, 2};
    const Jars two{jar("x"), jar("z")};
    const Jars one{jar("q")};
    const IndexSet outside{1, 3};
    array.lockReplaceObjectsAtIndexes(&indexes, &one);
    array.lockReplaceObjectsAtIndexes(&outside, &two);
    array.lockReplaceObjectsAtIndexes(nullptr, &two);
    EXPECT_EQ(names(array), (std::vector<std::string>{"a", "b", "c"}));
    array.lockReplaceObjectsAtIndexes(&indexes, &two);
    EXPECT_EQ(names(array), (std::vector<std::string>{"x", "b", "z"}));
}

TEST(MutLockArray, CallablesStandInForSelectorsPredicatesAndProperties) {
    JarArray array;
    EXPECT_EQ(array.lockFilteredArrayUsingPredicate([](const TestJar&) { return true; }),
              std::nullopt);  // empty collection
    array.lockAddObjectsFromArray(Jars{jar("pot"), jar("vase"), jar("cooler")});

    auto longNames =
        array.lockFilteredArrayUsingPredicate([](const TestJar& j) { return j.name.size() > 3; });
    EXPECT_EQ(names(*longNames), (std::vector<std::string>{"vase", "cooler"}));
    EXPECT_EQ(array.lockFilteredArrayUsingPredicate(std::function<bool(const TestJar&)>()),
              std::nullopt);
    EXPECT_EQ(array.lockFilteredArrayUsingPredicate([](const TestJar&) { return false; }),
              std::optional<Jars>(Jars{}));

    EXPECT_EQ(*array.lockValueForKey(&TestJar::name),
              (std::vector<std::string>{"pot", "vase", "cooler"}));
    EXPECT_EQ(array.lockValueForKey(static_cast<std::string TestJar::*>(nullptr)), std::nullopt);

    array.lockMakeObjectsPerformSelector([](TestJar& j, int by) { j.calls += by; }, 3);
    array.lockMakeObjectsPerformSelector([](TestJar& j) { j.calls += 1; });
    EXPECT_EQ(*array.lockValueForKey(&TestJar::calls), (std::vector<int>{4, 4, 4}));

    array.lockSortUsingSelector(&TestJar::compare);
    EXPECT_EQ(names(array), (std::vector<std::string>{"cooler", "pot", "vase"}));
}

TEST(MutLockArray, SortDescriptorsDecideInOrder) {
    JarArray array;
    auto a1 = jar("a");
    a1->calls = 1;
    auto a2 = jar("a");
    a2->calls = 2;
    auto b1 = jar("b");
    b1->calls = 1;
    array.lockAddObjectsFromArray(Jars{b1, a1, a2});
    const std::vector<SortDescriptor<TestJar>> byCallsDownThenName{
        SortDescriptor<TestJar>::byKey(&TestJar::calls, false),
        SortDescriptor<TestJar>::byKey(&TestJar::name)};
    array.lockSortUsingDescriptors(&byCallsDownThenName);
    EXPECT_EQ(array.lockCreateArrayCopy(), (Jars{a2, a1, b1}));
    array.lockSortUsingDescriptors(nullptr);
    EXPECT_EQ(array.lockCreateArrayCopy(), (Jars{a2, a1, b1}));
}

TEST(MutLockArray, NullSlotsPlacedThroughTheInnerListAreTolerated) {
    JarArray array;
    array.wrlock();
    array.array() = {jar("b"), nullptr, jar("a")};
    array.unlock();
    EXPECT_EQ(array.lockIndexOfObject(jar("a")), 2u);
    int calls = 0;
    array.lockMakeObjectsPerformSelector([&](TestJar&) { ++calls; });
    EXPECT_EQ(calls, 2);
    array.lockSortUsingSelector(&TestJar::compare);
    EXPECT_EQ(names(array), (std::vector<std::string>{"(null)", "a", "b"}));
}

TEST(MutLockArray, DescriptionAndReleaseOfEveryElementExactlyOnce) {
    std::atomic<int> destroyed{0};
    {
        JarArray array;
        array.lockAddObjectsFromArray(Jars{jar("a", &destroyed), jar("b", &destroyed)});
        EXPECT_EQ(array.description(), "<MutLockArray: (\n    <Jar a>,\n    <Jar b>\n)>");
        EXPECT_EQ(destroyed.load(), 0);
    }
    EXPECT_EQ(destroyed.load(), 2);
    EXPECT_EQ(JarArray().description(), "<MutLockArray: (\n)>");
}

TEST(MutLockArray, ElementsWithoutIsEqualUseOperatorEquals) {
    MutLockArray<std::string> strings;
    strings.lockAddObject(std::make_shared<std::string>("port"));
    EXPECT_TRUE(strings.lockContainsObject(std::make_shared<std::string>("port")));
    EXPECT_EQ(strings.description(), "<MutLockArray: (\n    port\n)>");
}
