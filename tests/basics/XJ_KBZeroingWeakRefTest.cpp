#include <gtest/gtest.h>

#include "basics/Log.h"
#include "external/KBZeroingWeakRef/Source/XJ_KBZeroingWeakRef.h"
#include "support/TestJar.h"

using namespace vitrine;
using namespace vitrine::testing;
using Ref = XJ_KBZeroingWeakRef;

TEST(ZeroingWeakRef, TargetIsTheObjectWhileAliveAndNullAfterwards) {
    auto a = jar("a");
    auto ref = Ref::refWithTarget(a);
    const void* address = ref.get();
    EXPECT_EQ(ref->description(),
              stringWithFormat("<XJ_KBZeroingWeakRef: %p -> <Jar a>>", address));
    a.reset();
    EXPECT_EQ(ref->description(), stringWithFormat("<XJ_KBZeroingWeakRef: %p -> (null)>", address));
    EXPECT_EQ(Ref::refWithTarget(std::shared_ptr<TestJar>())->target(), nullptr);
    EXPECT_EQ(Ref::_registeredTargetCount(), 0u);
}

TEST(ZeroingWeakRef, AllReferencesAreZeroedBeforeAnyCleanupRunsAndEachRunsOnce) {
    auto a = jar("a");
    const XJObject* address = a.get();
    auto first = Ref::refWithTarget(a), second = Ref::refWithTarget(a);
    auto dropped = Ref::refWithTarget(a);
    std::vector<std::string> seen;
    auto cleanup = [&](const char* name) {
        return [&, name](XJObject* target) {
            EXPECT_EQ(target, address);
            EXPECT_TRUE(!first->target() && !second->target());
            seen.emplace_back(name);
        };
    };
    // Only the last cleanup set runs, and the one it replaced is released at once.
    auto capturedByReplaced = std::make_shared<int>(0);
    first->setCleanupBlock([capturedByReplaced](XJObject*) { ADD_FAILURE(); });
    first->setCleanupBlock(cleanup("first"));
    EXPECT_EQ(capturedByReplaced.use_count(), 1);
    second->setCleanupBlock(cleanup("second"));
    dropped->setCleanupBlock([](XJObject*) { ADD_FAILURE(); });
    dropped.reset();  // a reference destroyed before its target runs no cleanup
    a.reset();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0], seen[1]);
}

// A cleanup may drop other references of the same dying target, make new references and kill
// other targets; the death sequence must neither call into a destroyed reference nor deadlock.
TEST(ZeroingWeakRef, CleanupMayDestroyReferencesAndOtherTargets) {
    auto a = jar("a"), b = jar("b");
    std::vector<std::shared_ptr<Ref>> refsOfA(4);
    auto refOfB = Ref::refWithTarget(b);
    int runs = 0, bRuns = 0;
    refOfB->setCleanupBlock([&](XJObject*) { ++bRuns; });
    for (auto& ref : refsOfA) {
        ref = Ref::refWithTarget(a);
        ref->setCleanupBlock([&](XJObject*) {
            ++runs;
            refsOfA.clear();  // destroys every reference of a, the running one included
            b.reset();        // a nested death on the same thread
            auto c = jar("c");
            auto refOfC = Ref::refWithTarget(c);
        });
    }
    a.reset();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(bRuns, 1);
    refOfB.reset();
    EXPECT_EQ(Ref::_registeredTargetCount(), 0u);
}
