#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "basics/NotificationCenter.h"

using namespace vitrine;

TEST(NotificationCenter, DeliversByNameInRegistrationOrderAndTokensRemove) {
    NotificationCenter center;
    std::vector<std::string> calls;
    auto observe = [&](const char* name, const char* tag) {
        return center.addObserver(
            name, [&, tag](const Notification& n) { calls.push_back(tag + n.name); });
    };
    auto first = observe("A", "1");
    auto other = observe("B", "2");
    auto every = observe("", "*");
    auto second = observe("A", "3");
    { auto scoped = observe("C", "s"); }
    NotificationCenter::Token moved = std::move(first);
    first.remove();  // moved from: must not remove the observer it handed on
    other.remove();
    every = observe("", "+");  // assigning over a live token removes the observer it held
    for (const char* name : {"A", "B", "C"}) center.postNotification(name);
    EXPECT_EQ(calls, (std::vector<std::string>{"1A", "3A", "+A", "+B", "+C"}));
    EXPECT_FALSE(center.addObserver("N", nullptr).active());
}

// Matching one sender is driven by the manager's tests; here the edges of ownership.
TEST(NotificationCenter, SenderFilterMatchesByOwnershipAndDoesNotKeepTheSender) {
    NotificationCenter center;
    auto sender = std::make_shared<std::pair<int, int>>();
    int seen = 0;
    auto token =
        center.addObserver("N", std::weak_ptr<void>(sender), [&](const Notification&) { ++seen; });
    // A pointer into the sender shares its ownership and therefore matches.
    center.postNotification("N", std::shared_ptr<void>(sender, &sender->second));
    EXPECT_EQ(seen, 1);
    std::weak_ptr<void> watch = sender;
    sender.reset();
    EXPECT_TRUE(watch.expired());
    center.postNotification("N", std::make_shared<std::pair<int, int>>());
    center.postNotification("N");
    EXPECT_EQ(seen, 1);
}

TEST(NotificationCenter, ObserversMayRemoveAndPostDuringAPostAndMayThrow) {
    NotificationCenter center;
    std::vector<std::string> calls;
    NotificationCenter::Token self, later;
    self = center.addObserver("N", [&](const Notification&) {
        calls.push_back("self");
        self.remove();  // and a not yet called observer: neither runs again
        later.remove();
        center.postNotification("inner");
    });
    auto inner =
        center.addObserver("inner", [&](const Notification&) { calls.push_back("inner"); });
    later = center.addObserver("N", [&](const Notification&) { calls.push_back("later"); });
    center.postNotification("N");
    center.postNotification("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"self", "inner"}));
    auto thrower =
        center.addObserver("T", [](const Notification&) { throw std::runtime_error("x"); });
    EXPECT_THROW(center.postNotification("T"), std::runtime_error);
    thrower.remove();  // must not wait for a call that ended by an exception
}
