#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "basics/Log.h"
#include "osc/OSCBundle.h"
#include "osc/OSCMessage.h"
#include "osc/OSCOutPort.h"
#include "osc/OSCPacket.h"
#include "support/UdpListener.h"

using namespace vitrine;
using test::Bytes;

namespace {

constexpr const char* kBundleHeader = "23 62 75 6E 64 6C 65 00";  // "#bundle" NUL
constexpr const char* kImmediate = "00 00 00 00 00 00 00 01";

std::string encoded(const std::shared_ptr<const OSCPacketContent>& content) {
    const auto packet = OSCPacket::createWithContent(content);
    EXPECT_NE(packet, nullptr);
    if (!packet) return {};
    EXPECT_EQ(packet->bufferLength(), content->bufferLength());
    return test::hex(test::bytes(packet->payload(), static_cast<size_t>(packet->bufferLength())));
}

std::shared_ptr<OSCMessage> message(const std::string& address) {
    return OSCMessage::createWithAddress(address);
}

std::string timeTagBytes(std::optional<Date> date) {
    auto bundle = OSCBundle::create();
    bundle->setTimeTag(date);
    return encoded(bundle).substr(24);  // past "#bundle" NUL and its separator
}

// Some content that is neither a message nor a bundle.
class OtherContent : public OSCPacketContent {
public:
    int64_t bufferLength() const override { return 4; }
    void writeToBuffer(uint8_t*) const override {}
};

}  // namespace

TEST(OSCBundleEncoding, HeaderElementsAndLengths) {
    auto empty = OSCBundle::create();
    EXPECT_EQ(empty->bufferLength(), 16);
    EXPECT_EQ(encoded(empty), std::string(kBundleHeader) + " " + kImmediate);

    // The 8 bytes of "/is" are preceded by their length.
    auto single = OSCBundle::createWithElement(message("/is"));
    EXPECT_EQ(single->bufferLength(), 28);
    EXPECT_EQ(encoded(single), std::string(kBundleHeader) + " " + kImmediate +
                                   " 00 00 00 08 2F 69 73 00 2C 00 00 00");
}

TEST(OSCBundleEncoding, NestedBundleWithTimeTags) {
    auto first = message("/a");
    first->addInt(1);
    auto inner = OSCBundle::createWithElement(message("/is"));
    auto outer = OSCBundle::createWithElementArray({first, inner});
    outer->setTimeTag(1.5);
    ASSERT_EQ(outer->bufferLength(), 64);
    EXPECT_EQ(encoded(outer), std::string(kBundleHeader) +
                                  " 00 00 00 01 00 07 A1 20"  // 1 s, 500000 us
                                  " 00 00 00 0C"              // "/a" 1, 12 bytes
                                  " 2F 61 00 00 2C 69 00 00 00 00 00 01"
                                  " 00 00 00 1C " +  // the inner bundle, 28 bytes
                                  kBundleHeader +
                                  " " + kImmediate + " 00 00 00 08 2F 69 73 00 2C 00 00 00");
}

TEST(OSCBundleEncoding, TimeTagSecondsAndMicroseconds) {
    EXPECT_EQ(timeTagBytes(10.25), "00 00 00 0A 00 03 D0 90");
    EXPECT_EQ(timeTagBytes(std::nullopt), kImmediate);
    // A date read from the wire is written back to the same microsecond, although the double
    // lies a hair below it: 700000000.3 would lose a microsecond if the fraction were cut off.
    EXPECT_EQ(timeTagBytes(700000000.0 + 300000 / 1000000.0), "29 B9 27 00 00 04 93 E0");
    // Rounding up to a whole second carries into the seconds.
    EXPECT_EQ(timeTagBytes(4.9999999), "00 00 00 05 00 00 00 00");
    // The past (and what is no date at all) means "at once"; the far future is held at the last
    // moment the 32-bit seconds can carry.
    EXPECT_EQ(timeTagBytes(-0.5), kImmediate);
    EXPECT_EQ(timeTagBytes(std::numeric_limits<double>::quiet_NaN()), kImmediate);
    EXPECT_EQ(timeTagBytes(5e9), "FF FF FF FF 00 0F 42 3F");
    EXPECT_EQ(timeTagBytes(std::numeric_limits<double>::infinity()), "FF FF FF FF 00 0F 42 3F");
}

TEST(OSCBundle, AcceptsOnlyMessagesAndBundlesAndNeverItself) {
    auto bundle = OSCBundle::createWithElement(nullptr);
    EXPECT_TRUE(bundle->elementArray().empty());
    bundle->addElement(std::make_shared<OtherContent>());
    bundle->addElement(bundle);
    EXPECT_TRUE(bundle->elementArray().empty());

    auto inner = OSCBundle::create();
    auto innermost = OSCBundle::createWithElement(bundle);
    inner->addElement(innermost);
    // Holding `inner` would make `bundle` hold itself two levels down.
    bundle->addElement(inner);
    EXPECT_TRUE(bundle->elementArray().empty());
    EXPECT_EQ(innermost->bufferLength(), 4 + 16 + 16);

    const auto a = message("/a");
    bundle->addElementArray({nullptr, a, std::make_shared<OtherContent>(), OSCBundle::create()});
    ASSERT_EQ(bundle->elementArray().size(), 2u);
    EXPECT_EQ(bundle->elementArray()[0], a);
    bundle->addElementArray({});
    EXPECT_EQ(bundle->elementArray().size(), 2u);
}

TEST(OSCOutPort, SendsABundleAsOneDatagram) {
    test::UdpListener listener;
    auto port = OSCOutPort::createWithAddress(std::string("127.0.0.1"), listener.port());
    ASSERT_NE(port, nullptr);
    auto bundle = OSCBundle::createWithElement(message("/is"));
    bundle->setTimeTag(10.25);

    LogCapture capture;
    port->sendThisBundle(bundle);
    const auto datagram = listener.receive();
    ASSERT_TRUE(datagram);
    EXPECT_EQ(test::hex(*datagram),
              std::string(kBundleHeader) +
                  " 00 00 00 0A 00 03 D0 90 00 00 00 08 2F 69 73 00 2C 00 00 00");

    port->sendThisBundle(nullptr);
    port->prepareToBeDeleted();
    port->sendThisBundle(bundle);
    EXPECT_TRUE(listener.drain().empty());
    EXPECT_TRUE(capture.lines().empty());
}
