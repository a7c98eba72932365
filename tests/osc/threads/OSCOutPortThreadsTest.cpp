#include <gtest/gtest.h>

#include <latch>
#include <set>

#include "osc/OSCOutPort.h"
#include "support/OscWire.h"

using namespace vitrine;
using namespace std::chrono_literals;
using test::numbered;

namespace {

// The sequence number of a whole "/seq" datagram, or -1 for anything else.
int32_t sequenceOf(const test::Bytes& datagram) {
    if (datagram.size() != 16) return -1;
    const auto message = OSCMessage::parseRawBuffer(datagram.data(), 16, 0, 0);
    return message && message->address() == "/seq" ? message->value()->intValue() : -1;
}

}  // namespace

TEST(OSCOutPortThreads, EveryDatagramArrivesWholeWhileThePortIsReAimedAndDeletionIsClean) {
    constexpr int32_t kMessages = 400;
    test::UdpListener first, second;
    const auto port = OSCOutPort::createWithAddress(std::string("127.0.0.1"), first.port());
    ASSERT_NE(port, nullptr);
    std::latch start(2);
    std::atomic<bool> sending{true};
    int reAims = 0;
    std::thread sender([&] {
        start.arrive_and_wait();
        for (int32_t i = 0; i < kMessages; ++i) {
            if (i % 2) port->sendThisMessage(numbered("/seq", i));
            if (i % 2 == 0) port->sendThisPacket(OSCPacket::createWithContent(numbered("/seq", i)));
        }
        sending = false;
    });
    std::thread aimer([&] {
        start.arrive_and_wait();
        for (; sending; ++reAims) {
            const uint16_t target = reAims % 2 == 0 ? second.port() : first.port();
            if (reAims % 4 < 2) port->setPort(target);
            if (reAims % 4 >= 2) port->setAddressString(std::string("127.0.0.1"), target);
            // Readers race the re-aim as well.
            EXPECT_EQ(port->addr().sin_family, AF_INET);
            EXPECT_FALSE(port->description().empty());
            std::this_thread::yield();
        }
    });
    sender.join();
    aimer.join();
    std::multiset<int32_t> seen;
    for (auto* listener : {&first, &second})
        for (const auto& datagram : listener->takeArrived()) seen.insert(sequenceOf(datagram));
    // All of them, each once and whole: a torn or garbled one would read -1.
    EXPECT_EQ(seen.size(), static_cast<size_t>(kMessages)) << reAims << " re-aims";
    EXPECT_EQ(std::set<int32_t>(seen.begin(), seen.end()).size(), static_cast<size_t>(kMessages));
    EXPECT_EQ(seen.count(-1), 0u);

    // Deletion racing the sends is clean, and nothing goes out once it has returned.
    std::latch deleting(2);
    std::thread late([&] {
        deleting.arrive_and_wait();
        for (int32_t i = 0; i < 200; ++i) port->sendThisMessage(numbered("/seq", i));
    });
    deleting.arrive_and_wait();
    port->prepareToBeDeleted();
    late.join();
    for (auto* listener : {&first, &second})
        for (const auto& datagram : listener->takeArrived()) EXPECT_GE(sequenceOf(datagram), 0);
    port->sendThisMessage(numbered("/seq", 1));
    EXPECT_TRUE(first.takeArrived().empty() && second.takeArrived().empty());
}
