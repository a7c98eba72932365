#include <gtest/gtest.h>

#include <limits>

#include "basics/Log.h"
#include "osc/OSCBundle.h"
#include "osc/OSCOutPort.h"
#include "support/OscWire.h"

using namespace vitrine;

namespace {

const std::string kHeader = "23 62 75 6E 64 6C 65 00";  // "#bundle" NUL
const std::string kImmediate = "00 00 00 00 00 00 00 01";
const std::string kIs = "00 00 00 08 2F 69 73 00 2C 00 00 00";  // "/is" with its length

std::string hexOf(const std::shared_ptr<const OSCPacketContent>& content) {
    const test::Bytes bytes = test::encoded(content);
    EXPECT_EQ(static_cast<int64_t>(bytes.size()), content->bufferLength());
    return test::hex(bytes);
}

std::shared_ptr<OSCMessage> message(const std::string& address) {
    return OSCMessage::createWithAddress(address);
}

// Some content that is neither a message nor a bundle.
struct OtherContent : OSCPacketContent {
    int64_t bufferLength() const override { return 4; }
    void writeToBuffer(uint8_t*) const override {}
};

}  // namespace

TEST(OSCBundleEncoding, HeaderTimeTagAndLengthPrefixedElements) {
    EXPECT_EQ(hexOf(OSCBundle::create()), kHeader + " " + kImmediate);
    EXPECT_EQ(hexOf(OSCBundle::createWithElement(message("/is"))),
              kHeader + " " + kImmediate + " " + kIs);

    auto outer = OSCBundle::createWithElementArray(
        {test::numbered("/a", 1), OSCBundle::createWithElement(message("/is"))});
    outer->setTimeTag(1.5);
    EXPECT_EQ(hexOf(outer), kHeader +
                                " 00 00 00 01 00 07 A1 20"  // 1 s, 500000 µs
                                " 00 00 00 0C 2F 61 00 00 2C 69 00 00 00 00 00 01"
                                " 00 00 00 1C " +  // the inner bundle, 28 bytes
                                kHeader +
                                " " + kImmediate + " " + kIs);
}

TEST(OSCBundleEncoding, TimeTagSecondsAndMicroseconds) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<std::optional<Date>, std::string>> table = {
        {10.25, "00 00 00 0A 00 03 D0 90"},
        {std::nullopt, kImmediate},
        // A date read from the wire is written back to the same microsecond although the double
        // lies a hair below it; rounding up to a whole second carries into the seconds.
        {700000000.0 + 300000 / 1000000.0, "29 B9 27 00 00 04 93 E0"},
        {4.9999999, "00 00 00 05 00 00 00 00"},
        // The past and what is no date mean "at once"; the far future is held at the last moment
        // the 32-bit seconds can carry.
        {-0.5, kImmediate},
        {std::numeric_limits<double>::quiet_NaN(), kImmediate},
        {5e9, "FF FF FF FF 00 0F 42 3F"},
        {inf, "FF FF FF FF 00 0F 42 3F"},
    };
    for (const auto& [date, bytes] : table) {
        auto bundle = OSCBundle::create();
        bundle->setTimeTag(date);
        EXPECT_EQ(hexOf(bundle).substr(24), bytes) << date.value_or(-1);
    }
}

TEST(OSCBundle, AcceptsOnlyMessagesAndBundlesAndNeverItself) {
    auto bundle = OSCBundle::createWithElement(nullptr);
    bundle->addElement(std::make_shared<OtherContent>());
    bundle->addElement(bundle);
    EXPECT_TRUE(bundle->elementArray().empty());
    // Holding `inner` would make `bundle` hold itself two levels down.
    auto inner = OSCBundle::createWithElement(OSCBundle::createWithElement(bundle));
    bundle->addElement(inner);
    EXPECT_TRUE(bundle->elementArray().empty());

    const auto a = message("/a");
    bundle->addElementArray({nullptr, a, std::make_shared<OtherContent>(), OSCBundle::create()});
    ASSERT_EQ(bundle->elementArray().size(), 2u);
    EXPECT_EQ(bundle->elementArray()[0], a);
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
    EXPECT_EQ(test::hex(*datagram), kHeader + " 00 00 00 0A 00 03 D0 90 " + kIs);
    port->sendThisBundle(nullptr);
    port->prepareToBeDeleted();
    port->sendThisBundle(bundle);
    EXPECT_TRUE(listener.drain().empty());
    EXPECT_TRUE(capture.lines().empty());
}
