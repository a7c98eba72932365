#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "basics/Log.h"
#include "osc/OSCInPort.h"
#include "osc/OSCInPortDelegate.h"
#include "osc/OSCMessage.h"
#include "osc/OSCPacket.h"
#include "support/CollectingReceiver.h"
#include "support/OscWire.h"
#include "support/UdpListener.h"
#include "support/Waiting.h"

// Counts the bytes allocated while a parse runs, so that a datagram cannot make the receiving
// side allocate far more than it received: the parse must stay within a fixed multiple of the
// input's length, whatever the input.
#include "support/CountingAllocator.h"

using namespace vitrine;
using test::allocated;
using test::allocations;
using test::counting;

namespace {

constexpr size_t kAllowedBytesPerInputByte = 64;

// Bytes allocated by one datagram's parse and delivery, the delivered messages included.
size_t allocationOf(const std::vector<uint8_t>& datagram) {
    LogCapture quiet;
    test::CollectingReceiver receiver;
    receiver.messages.reserve(64);
    allocated = 0;
    allocations = 0;
    counting = true;
    OSCPacket::parseRawBuffer(datagram.data(), static_cast<int32_t>(datagram.size()), &receiver, 0,
                              0);
    counting = false;
    return allocated.load();
}

std::vector<uint8_t> messageWithTags(const std::string& tags, size_t dataBytes) {
    std::vector<uint8_t> out{'/', 'a', 0, 0};
    out.push_back(',');
    out.insert(out.end(), tags.begin(), tags.end());
    out.push_back(0);
    while (out.size() % 4) out.push_back(0);
    out.resize(out.size() + dataBytes, 0);
    return out;
}

}  // namespace

TEST(ParseAllocation, StaysWithinAFixedMultipleOfTheInputForHostileTagStrings) {
    struct Case {
        const char* name;
        std::vector<uint8_t> datagram;
    };
    const std::vector<Case> cases = {
        {"nil tags", messageWithTags(std::string(60000, 'N'), 0)},
        {"true tags", messageWithTags(std::string(60000, 'T'), 0)},
        {"empty arrays",
         [] {
             std::string tags;
             for (int i = 0; i < 30000; ++i) tags += "[]";
             return messageWithTags(tags, 0);
         }()},
        {"nested arrays at the depth bound",
         [] {
             std::string tags;
             for (int i = 0; i < 1800; ++i) tags += std::string(32, '[') + std::string(32, ']');
             return messageWithTags(tags, 0);
         }()},
        {"integers", messageWithTags(std::string(12000, 'i'), 48000)},
        {"empty strings", messageWithTags(std::string(12000, 's'), 48000)},
        {"empty blobs", messageWithTags(std::string(12000, 'b'), 48000)},
        {"unknown tags", messageWithTags(std::string(60000, 'x'), 0)},
    };
    for (const auto& c : cases) {
        const size_t bytes = allocationOf(c.datagram);
        EXPECT_LE(bytes, kAllowedBytesPerInputByte * c.datagram.size())
            << c.name << ": " << bytes << " bytes for a " << c.datagram.size() << "-byte datagram";
    }
}

TEST(ParseAllocation, AMessageOfNumbersTakesAFewAllocationsWhateverItsLength) {
    // The message, its value list, and one block for all its values.
    for (size_t numbers : {1, 12, 24}) {
        allocationOf(messageWithTags(std::string(numbers, 'i'), 4 * numbers));
        EXPECT_LE(allocations.load(), 3u) << numbers << " numbers";
    }
}

namespace {

// Counts deliveries and allocates nothing itself.
class CountingDelegate : public OSCInPortDelegate {
public:
    void receivedOSCMessage(const std::shared_ptr<OSCMessage>&) override { ++delivered; }
    std::atomic<int> delivered{0};
};

}  // namespace

TEST(ParseAllocation, AReceivingPortAllocatesNothingPerDatagramBeyondTheMessagesItDelivers) {
    auto list = OSCMessage::createWithAddress("/list");
    for (int i = 1; i <= 12; ++i) list->addInt(i);
    const test::Bytes datagram = test::encoded(list);
    allocationOf(datagram);
    const size_t perMessage = allocations.load();
    ASSERT_GT(perMessage, 0u);

    // One datagram per pass (every pass's own work is then per datagram), and bursts that a pass
    // drains together, through both ways of confirming the drain.
    struct Case {
        const char* name;
        int32_t drainWait;
        int burst;
    };
    const Case cases[] = {{"one per pass", 1000, 1},
                          {"one per pass, no drain wait", 0, 1},
                          {"bursts of 40", 1000, 40},
                          {"bursts of 40, no drain wait", 0, 40}};
    constexpr int kDatagrams = 200;
    for (const Case& c : cases) {
        const auto delegate = std::make_shared<CountingDelegate>();
        const auto port = OSCInPort::createWithPort(0);
        ASSERT_TRUE(port);
        port->setInterval(0);
        port->setDrainWaitMicroseconds(c.drainWait);
        port->setDelegate(delegate);
        port->start();
        test::UdpListener sender;
        // The thread's start and its first pass make what the port keeps for good.
        sender.sendTo(port->port(), datagram);
        ASSERT_TRUE(test::waitUntil([&] { return delegate->delivered.load() == 1; })) << c.name;

        int expected = 1;
        // Made before counting starts: the wait itself must not be counted.
        const std::function<bool()> allArrived = [&] {
            return delegate->delivered.load() == expected;
        };
        allocations = 0;
        counting = true;
        bool arrived = true;
        while (arrived && expected < 1 + kDatagrams) {
            for (int i = 0; i < c.burst; ++i) sender.sendTo(port->port(), datagram);
            expected += c.burst;
            arrived = test::waitUntil(allArrived);
        }
        counting = false;
        port->prepareToBeDeleted();
        ASSERT_TRUE(arrived) << c.name << ": " << delegate->delivered.load() << " of " << expected;
        EXPECT_LE(allocations.load(), kDatagrams * perMessage)
            << c.name << ": " << allocations.load() << " allocations for " << kDatagrams
            << " datagrams of " << perMessage << " each to decode";
    }
}
