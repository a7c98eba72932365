#include <gtest/gtest.h>

#include <latch>
#include <thread>

#include "osc/OSCQueryReply.h"

using namespace vitrine;

namespace {

// Touches its own state on each answer, so a delegate destroyed during the call is caught by
// the sanitizers.
struct CountingDelegate : OSCQueryReplyDelegate {
    explicit CountingDelegate(std::atomic<int>& total) : total(total) {}
    void oscQueryReplyReceived(const std::shared_ptr<OSCMessage>& reply) override {
        received.push_back(reply);
        total.fetch_add(1);
    }
    std::vector<std::shared_ptr<OSCMessage>> received;
    std::atomic<int>& total;
};

}  // namespace

TEST(OSCQueryReplyThreads, DelegateDyingWhileAnswersArrive) {
    const auto asked = OSCMessage::createQueryType(OSCQueryTypeCurrentValue, std::string("/level"));
    const auto answer = OSCMessage::createReplyForMessage(asked);
    std::atomic<int> total{0};
    for (int round = 0; round < 200; ++round) {
        auto delegate = std::make_shared<CountingDelegate>(total);
        const auto pending = OSCQueryReply::createWithQuery(asked, 1.0, delegate);
        std::latch started(2);
        std::thread receiving([&] {
            started.arrive_and_wait();
            for (int i = 0; i < 50; ++i) pending->dispatchReply(answer);
        });
        started.arrive_and_wait();
        delegate.reset();
        receiving.join();
        // After the join no answer can reach the dead delegate any more.
        const int before = total.load();
        pending->dispatchReply(answer);
        EXPECT_EQ(total.load(), before);
    }
}
