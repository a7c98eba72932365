#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "basics/Log.h"
#include "basics/ObjectHolder.h"
#include "support/TestJar.h"

using namespace vitrine;
using vitrine::testing::jar;
using vitrine::testing::TestJar;

using Holder = ObjectHolder<TestJar>;

TEST(ObjectHolder, NullObjectsMakeNoHolderAndLogBail) {
    LogCapture capture;
    EXPECT_EQ(Holder::createWithObject(nullptr), nullptr);
    EXPECT_EQ(Holder::createWithZWRObject(nullptr), nullptr);
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"\t\terr: -[ObjectHolder initWithObject:] - BAIL",
                                        "\t\terr: -[ObjectHolder initWithZWRObject:] - BAIL"}));
}

TEST(ObjectHolder, EqualityComparesLiveObjectsAndDeadHoldersEqualNothing) {
    auto a = jar("a");
    auto sameName = jar("a");
    auto plain = Holder::createWithObject(a);
    auto weak = Holder::createWithZWRObject(sameName);
    EXPECT_TRUE(plain->isEqual(*weak));
    EXPECT_TRUE(weak->isEqualTo(*plain));
    EXPECT_FALSE(plain->isEqual(*a));  // a holder never equals a non-holder
    EXPECT_FALSE(plain->isEqual(*Holder::createWithObject(jar("b"))));

    sameName.reset();
    EXPECT_FALSE(weak->isEqual(*weak));
    EXPECT_FALSE(plain->isEqual(*weak));
    Holder empty;
    EXPECT_FALSE(empty.isEqual(empty));
}

TEST(ObjectHolder, PerformReachesOnlyALiveObject) {
    auto a = jar("a");
    auto weak = Holder::createWithZWRObject(a);
    EXPECT_TRUE(weak->perform([](TestJar& j) { ++j.calls; }));
    EXPECT_EQ(weak->perform([](TestJar& j, int by) { return j.calls + by; }, 10),
              std::optional<int>(11));
    EXPECT_EQ(weak->valueForKey(&TestJar::name), std::optional<std::string>("a"));
    a.reset();
    EXPECT_FALSE(weak->perform([](TestJar&) { ADD_FAILURE(); }));
    EXPECT_EQ(weak->valueForKey(&TestJar::name), std::nullopt);
    EXPECT_FALSE(Holder().perform([](TestJar&) { ADD_FAILURE(); }));
}

TEST(ObjectHolder, SwitchingBetweenPlainWeakAndEmpty) {
    auto a = jar("a");
    auto b = jar("b");
    Holder holder;
    EXPECT_EQ(holder.object(), nullptr);
    holder.setZWRObject(a);
    EXPECT_TRUE(holder.isWeak());
    EXPECT_EQ(holder.object(), a);
    holder.setObject(b);
    EXPECT_FALSE(holder.isWeak());
    EXPECT_EQ(holder.object(), b);
    holder.setZWRObject(nullptr);
    EXPECT_EQ(holder.object(), nullptr);
    holder.setObject(a);
    holder.setObject(nullptr);
    EXPECT_EQ(holder.object(), nullptr);
}

// A plain holder whose object dies anyway reads null rather than dangling.
TEST(ObjectHolder, PlainHolderOfADeadObjectReadsNull) {
    auto a = jar("a");
    auto plain = Holder::createWithObject(a);
    a.reset();
    EXPECT_EQ(plain->object(), nullptr);
}

TEST(ObjectHolder, Description) {
    auto a = jar("a");
    auto holder = Holder::createWithZWRObject(a);
    const void* address = holder.get();
    EXPECT_EQ(holder->description(), stringWithFormat("ObjectHolder: %p : <Jar a>", address));
    a.reset();
    EXPECT_EQ(holder->description(), stringWithFormat("ObjectHolder: %p", address));
}
