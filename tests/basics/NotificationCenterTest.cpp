#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "basics/NotificationCenter.h"

using namespace vitrine;

TEST(NotificationCenter, DeliversByNameInRegistrationOrder) {
    NotificationCenter center;
    std::vector<std::string> calls;
    auto first =
        center.addObserver("A", [&](const Notification& n) { calls.push_back("1" + n.name); });
    auto other =
        center.addObserver("B", [&](const Notification& n) { calls.push_back("2" + n.name); });
    auto every =
        center.addObserver("", [&](const Notification& n) { calls.push_back("*" + n.name); });
    auto second =
        center.addObserver("A", [&](const Notification& n) { calls.push_back("3" + n.name); });
    center.postNotification("A");
    center.postNotification("B");
    center.postNotification("C");
    EXPECT_EQ(calls, (std::vector<std::string>{"1A", "*A", "3A", "2B", "*B", "*C"}));
}

TEST(NotificationCenter, SenderFilterMatchesByOwnershipAndDoesNotKeepTheSender) {
    NotificationCenter center;
    struct Sender {
        int field = 0;
    };
    auto sender = std::make_shared<Sender>();
    auto stranger = std::make_shared<Sender>();
    std::vector<void*> seen;
    auto token = center.addObserver("N", std::weak_ptr<void>(sender),
                                    [&](const Notification& n) { seen.push_back(n.object.get()); });
    center.postNotification("N", sender);
    center.postNotification("N", stranger);
    center.postNotification("N");
    // A pointer into the sender shares its ownership and therefore matches.
    center.postNotification("N", std::shared_ptr<void>(sender, &sender->field));
    EXPECT_EQ(seen, (std::vector<void*>{sender.get(), &sender->field}));

    std::weak_ptr<Sender> watch = sender;
    sender.reset();
    EXPECT_TRUE(watch.expired());
    seen.clear();
    center.postNotification("N", std::make_shared<Sender>());
    center.postNotification("N");
    EXPECT_TRUE(seen.empty());
}

TEST(NotificationCenter, TokensRemoveOnDestructionRemoveAndMove) {
    NotificationCenter center;
    int calls = 0;
    {
        auto scoped = center.addObserver("N", [&](const Notification&) { ++calls; });
        center.postNotification("N");
    }
    center.postNotification("N");
    EXPECT_EQ(calls, 1);

    auto token = center.addObserver("N", [&](const Notification&) { ++calls; });
    NotificationCenter::Token moved = std::move(token);
    EXPECT_FALSE(token.active());
    EXPECT_TRUE(moved.active());
    token.remove();
    center.postNotification("N");
    EXPECT_EQ(calls, 2);
    moved.remove();
    moved.remove();
    EXPECT_FALSE(moved.active());
    center.postNotification("N");
    EXPECT_EQ(calls, 2);

    // Assigning over a live token removes the observer it held.
    auto replaced = center.addObserver("N", [&](const Notification&) { calls += 100; });
    replaced = center.addObserver("N", [&](const Notification&) { ++calls; });
    center.postNotification("N");
    EXPECT_EQ(calls, 3);

    EXPECT_FALSE(center.addObserver("N", nullptr).active());
}

TEST(NotificationCenter, ObserversMayRemoveAndPostDuringAPost) {
    NotificationCenter center;
    std::vector<std::string> calls;
    NotificationCenter::Token self;
    NotificationCenter::Token later;
    self = center.addObserver("N", [&](const Notification&) {
        calls.push_back("self");
        // Removing oneself and a not yet called observer: neither runs again.
        self.remove();
        later.remove();
        center.postNotification("inner");
    });
    auto inner =
        center.addObserver("inner", [&](const Notification&) { calls.push_back("inner"); });
    later = center.addObserver("N", [&](const Notification&) { calls.push_back("later"); });
    center.postNotification("N");
    center.postNotification("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"self", "inner"}));
}

TEST(NotificationCenter, ThrowingObserverLeavesTheCentreUsable) {
    NotificationCenter center;
    auto thrower =
        center.addObserver("N", [](const Notification&) { throw std::runtime_error("x"); });
    EXPECT_THROW(center.postNotification("N"), std::runtime_error);
    // Removal must not wait for a call that ended by an exception.
    thrower.remove();
    EXPECT_NO_THROW(center.postNotification("N"));
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}
