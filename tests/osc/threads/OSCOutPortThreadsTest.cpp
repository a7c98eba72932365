#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <set>
#include <thread>

#include "osc/OSCOutPort.h"
#include "support/UdpListener.h"

using namespace vitrine;
using test::Bytes;

namespace {

std::shared_ptr<OSCMessage> numbered(int32_t number) {
    auto message = OSCMessage::createWithAddress(std::string("/seq"));
    message->addInt(number);
    return message;
}

// The sequence number of a whole "/seq" datagram, or -1 for anything else.
int32_t sequenceOf(const Bytes& datagram) {
    const Bytes header = test::bytesFromHex("2F 73 65 71 00 00 00 00 2C 69 00 00");
    if (datagram.size() != 16 || !std::equal(header.begin(), header.end(), datagram.begin()))
        return -1;
    return static_cast<int32_t>(uint32_t{datagram[12]} << 24 | uint32_t{datagram[13]} << 16 |
                                uint32_t{datagram[14]} << 8 | uint32_t{datagram[15]});
}

}  // namespace

TEST(OSCOutPortThreads, EveryDatagramArrivesWholeWhileThePortIsReAimed) {
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
            if (i % 2) {
                port->sendThisMessage(numbered(i));
            } else {
                port->sendThisPacket(OSCPacket::createWithContent(numbered(i)));
            }
        }
        sending = false;
    });
    std::thread aimer([&] {
        start.arrive_and_wait();
        while (sending) {
            const bool toSecond = reAims % 2 == 0;
            const uint16_t target = toSecond ? second.port() : first.port();
            if (reAims % 4 < 2) {
                port->setPort(target);
            } else {
                port->setAddressString(std::string("127.0.0.1"), target);
            }
            // Readers race the re-aim as well.
            EXPECT_EQ(port->addr().sin_family, AF_INET);
            EXPECT_FALSE(port->description().empty());
            ++reAims;
            std::this_thread::yield();
        }
    });
    sender.join();
    aimer.join();

    std::set<int32_t> seen;
    size_t received = 0;
    for (auto* listener : {&first, &second}) {
        for (const Bytes& datagram : listener->drain(std::chrono::milliseconds(300))) {
            ++received;
            const int32_t number = sequenceOf(datagram);
            EXPECT_GE(number, 0) << test::hex(datagram);
            seen.insert(number);
        }
    }
    SCOPED_TRACE(testing::Message() << reAims << " re-aims");
    EXPECT_EQ(received, static_cast<size_t>(kMessages));
    EXPECT_EQ(seen.size(), static_cast<size_t>(kMessages));
}

TEST(OSCOutPortThreads, DeletionDuringSendsIsClean) {
    test::UdpListener listener;
    const auto port = OSCOutPort::createWithAddress(std::string("127.0.0.1"), listener.port());
    ASSERT_NE(port, nullptr);
    std::latch start(2);
    std::thread sender([&] {
        start.arrive_and_wait();
        for (int32_t i = 0; i < 200; ++i) port->sendThisMessage(numbered(i));
    });
    start.arrive_and_wait();
    port->prepareToBeDeleted();
    sender.join();
    for (const Bytes& datagram : listener.drain()) EXPECT_GE(sequenceOf(datagram), 0);
    // Nothing goes out once deletion has returned.
    port->sendThisMessage(numbered(1));
    EXPECT_FALSE(listener.receive(std::chrono::milliseconds(100)));
}
