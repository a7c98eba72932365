#include <gtest/gtest.h>

#include <latch>
#include <set>

#include "osc/OSCAddressSpace.h"

using namespace vitrine;

namespace {

// Counts what it is told; its rename handler only reads, which is what a handler called under
// the node's delegate lock may do.
struct Counter : OSCNodeDelegate {
    void node(OSCNode&, const std::shared_ptr<OSCMessage>&) override { ++messages; }
    void nodeNameChanged(OSCNode& node) override {
        lastLength = node.fullName().value_or("").size();
    }
    void nodeDeleted(OSCNode& node) override { lastLength = node.nodeName().value_or("").size(); }
    std::atomic<int> messages{0};
    std::atomic<size_t> lastLength{0};
};

struct Answers : OSCAddressSpaceDelegate {
    void nodeRenamed(const std::shared_ptr<OSCNode>&) override { ++renamed; }
    void queryResponseNeedsToBeSent(const std::shared_ptr<OSCMessage>&) override { ++replies; }
    std::atomic<int> renamed{0};
    std::atomic<int> replies{0};
};

TEST(AddressSpaceThreads, IsMadeOnceWhenManyThreadsAskFirst) {
    constexpr int kThreads = 8;
    std::latch start(kThreads);
    std::vector<OSCAddressSpace*> seen(kThreads);
    std::vector<std::jthread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            seen[i] = OSCAddressSpace::mainAddressSpace().get();
        });
    }
    threads.clear();
    EXPECT_EQ(std::set<OSCAddressSpace*>(seen.begin(), seen.end()).size(), 1u);
}

TEST(AddressSpaceThreads, DispatchesWhileDelegatesAndNodesComeAndGo) {
    const auto space = OSCAddressSpace::mainAddressSpace();
    const auto answers = std::make_shared<Answers>();
    space->setDelegate(answers);
    const auto steady = std::make_shared<Counter>();
    space->addDelegate(steady, std::string("/t/0"));

    constexpr int kRounds = 2000;
    std::atomic<int> dispatchersLeft{3};
    std::vector<std::jthread> threads;
    for (int d = 0; d < 3; ++d) {
        threads.emplace_back([&, d] {
            for (int i = 0; i < kRounds; ++i) {
                const std::string address = "/t/" + std::to_string((i + d) % 4);
                space->dispatchMessage(OSCMessage::createWithAddress(address));
                if (i % 8 == 0)
                    space->dispatchMessage(
                        OSCMessage::createQueryType(OSCQueryTypeNamespaceExploration, "/"));
            }
            --dispatchersLeft;
        });
    }
    threads.emplace_back([&] {
        // Delegates are made and dropped here while the dispatchers run: the last share of
        // each may go on either side.
        std::vector<std::shared_ptr<Counter>> held;
        for (int i = 0; dispatchersLeft.load() > 0; ++i) {
            auto counter = std::make_shared<Counter>();
            space->addDelegate(counter, "/t/" + std::to_string(i % 4));
            held.push_back(counter);
            if (held.size() > 4) held.erase(held.begin());
            if (i % 3 == 0) space->removeDelegate(held.front(), std::string("/t/1"));
            if (i % 5 == 0) space->setNode(nullptr, std::string("/t/3"));
            if (i % 7 == 0) space->renameAddress("/t/2", "/u/2");
        }
    });
    threads.clear();

    EXPECT_GT(steady->messages.load(), 0);
    EXPECT_GT(answers->replies.load(), 0);
    space->setDelegate({});
    space->deleteLocalNode(space->findNodeForAddress(std::string("/t")));
    space->deleteLocalNode(space->findNodeForAddress(std::string("/u")));
}

}  // namespace
