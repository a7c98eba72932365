#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basics/Log.h"
#include "osc/OSCBundle.h"
#include "osc/OSCMessage.h"
#include "osc/OSCPacket.h"
#include "support/CollectingReceiver.h"
#include "support/UdpListener.h"

using namespace vitrine;
using test::Bytes;

namespace {

constexpr const char* kMethod =
    "+[OSCBundle parseRawBuffer:ofMaxLength:toInPort:inheritedTimeTag:fromAddr:port:]";
const std::string kBreaking =
    std::string("\t\terr: breaking, message couldn't be parsed. ") + kMethod;
const std::string kNoTypeTags = "\t\terr: msg type tag string not present";
constexpr uint32_t kSender = 0x0100007F;  // 127.0.0.1 as it arrives, network order
constexpr uint16_t kSenderPort = 0x3930;

std::string lengthError(int32_t length) {
    return stringWithFormat("\t\terr: breaking, element length %d doesn't fit in the bundle. %s",
                            length, kMethod);
}

void append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

Bytes lengthPrefix(uint32_t n) {
    return {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}

Bytes messageBytes(const std::string& address, std::optional<int32_t> number = std::nullopt) {
    auto message = OSCMessage::createWithAddress(address);
    if (number) message->addInt(*number);
    return *message->writeToNSData();
}

// A bundle of already encoded elements; `timeTag` is the 8 bytes after the header, as hex.
Bytes bundleBytes(const std::vector<Bytes>& elements,
                  const char* timeTag = "00 00 00 00 00 00 00 01") {
    Bytes bytes = test::bytesFromHex("23 62 75 6E 64 6C 65 00");
    append(bytes, test::bytesFromHex(timeTag));
    for (const auto& element : elements) {
        append(bytes, lengthPrefix(static_cast<uint32_t>(element.size())));
        append(bytes, element);
    }
    return bytes;
}

// Decodes a copy of exactly `bytes`, so that the sanitizers catch any read past the datagram.
std::vector<std::shared_ptr<OSCMessage>> parse(const Bytes& bytes) {
    test::CollectingReceiver receiver;
    const auto copy = std::make_unique<uint8_t[]>(bytes.size() + 1);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    OSCPacket::parseRawBuffer(bytes.empty() ? nullptr : copy.get(),
                              static_cast<int32_t>(bytes.size()), &receiver, kSender, kSenderPort);
    return receiver.messages;
}

// "address@time" per message, "address" for one without a time tag.
std::vector<std::string> summary(const std::vector<std::shared_ptr<OSCMessage>>& messages) {
    std::vector<std::string> lines;
    for (const auto& message : messages) {
        std::string line = message->address().value_or("(none)");
        if (message->timeTag()) line += stringWithFormat("@%g", *message->timeTag());
        lines.push_back(line);
    }
    return lines;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(OSCPacketParse, SingleMessageDatagramKeepsItsSender) {
    const auto messages = parse(messageBytes("/connected", 1));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]->address(), "/connected");
    EXPECT_EQ(messages[0]->valueAtIndex(0)->intValue(), 1);
    EXPECT_EQ(messages[0]->queryTXAddress(), kSender);
    EXPECT_EQ(messages[0]->queryTXPort(), kSenderPort);
    EXPECT_FALSE(messages[0]->timeTag());

    LogCapture capture;
    EXPECT_TRUE(parse(test::bytesFromHex("2F 62 00 00")).empty());
    EXPECT_EQ(capture.lines(), Lines{kNoTypeTags});
}

TEST(OSCPacketParse, NothingWithoutReceiverBufferOrElements) {
    LogCapture capture;
    const Bytes bytes = bundleBytes({messageBytes("/a")});
    OSCPacket::parseRawBuffer(bytes.data(), static_cast<int32_t>(bytes.size()), nullptr, 0, 0);
    test::CollectingReceiver receiver;
    OSCPacket::parseRawBuffer(nullptr, 12, &receiver, 0, 0);
    OSCBundle::parseRawBuffer(bytes.data(), static_cast<int32_t>(bytes.size()), nullptr,
                              std::nullopt, 0, 0);
    EXPECT_TRUE(receiver.messages.empty());
    // A header alone holds nothing and is no error; one stray byte after it cannot be a length.
    EXPECT_TRUE(parse(bundleBytes({})).empty());
    Bytes seventeen = bundleBytes({});
    seventeen.push_back(0);
    EXPECT_EQ(parse(seventeen).size(), 0u);
    // A lone "#" is a message attempt; the byte after it is never looked at.
    parse(test::bytesFromHex("23"));
    EXPECT_EQ(capture.count(kNoTypeTags), 1u);
    EXPECT_EQ(capture.lines().size(), 2u);  // the 17-byte bundle's cut-off line and the "#"
}

TEST(OSCPacketParse, BundleTimeTagsReachEveryMessage) {
    const std::vector<Bytes> two = {messageBytes("/a", 1), messageBytes("/b")};
    EXPECT_EQ(summary(parse(bundleBytes(two))), (Lines{"/a", "/b"}));
    EXPECT_EQ(summary(parse(bundleBytes(two, "00 00 00 00 00 00 00 00"))), (Lines{"/a", "/b"}));
    EXPECT_EQ(summary(parse(bundleBytes(two, "00 00 00 0A 00 03 D0 90"))),
              (Lines{"/a@10.25", "/b@10.25"}));
    const auto messages = parse(bundleBytes(two));
    EXPECT_EQ(messages[0]->queryTXAddress(), kSender);
    EXPECT_EQ(messages[1]->queryTXPort(), kSenderPort);
}

TEST(OSCPacketParse, NestedBundlesInheritOrOverrideTheTimeTag) {
    const Bytes immediateInner = bundleBytes({messageBytes("/in1"), messageBytes("/in2")});
    const Bytes timedInner = bundleBytes({messageBytes("/own")}, "00 00 00 03 00 00 00 00");
    const Bytes doublyNested = bundleBytes({bundleBytes({messageBytes("/deep")})});
    const Bytes outer = bundleBytes(
        {messageBytes("/first"), immediateInner, timedInner, doublyNested, messageBytes("/last")},
        "00 00 00 01 00 07 A1 20");
    EXPECT_EQ(summary(parse(outer)),
              (Lines{"/first@1.5", "/in1@1.5", "/in2@1.5", "/own@3", "/deep@1.5", "/last@1.5"}));
    // Immediate all the way down: no time tag anywhere.
    EXPECT_EQ(summary(parse(bundleBytes({immediateInner}))), (Lines{"/in1", "/in2"}));
}

TEST(OSCPacketParse, HashBIsEnoughToMakeABundle) {
    Bytes bytes = bundleBytes({messageBytes("/a")});
    bytes[2] = 'x';
    bytes[6] = 'y';
    EXPECT_EQ(summary(parse(bytes)), Lines{"/a"});
}

TEST(OSCPacketParse, UnparsableElementBreaksItsBundleOnly) {
    const Bytes bad = test::bytesFromHex("2F 62 00 00");  // "/b" without type tags
    {
        LogCapture capture;
        EXPECT_EQ(summary(parse(bundleBytes({messageBytes("/a"), bad, messageBytes("/c")}))),
                  Lines{"/a"});
        EXPECT_EQ(capture.lines(), (Lines{kNoTypeTags, kBreaking}));
    }
    {
        // The enclosing bundle knows where the next element starts and goes on with it.
        LogCapture capture;
        const Bytes inner = bundleBytes({messageBytes("/b"), bad, messageBytes("/c")});
        EXPECT_EQ(summary(parse(bundleBytes({messageBytes("/a"), inner, messageBytes("/d")}))),
                  (Lines{"/a", "/b", "/d"}));
        EXPECT_EQ(capture.lines(), (Lines{kNoTypeTags, kBreaking}));
    }
}

TEST(OSCPacketParse, ElementLengthsThatDoNotFitStopTheWalk) {
    const Bytes a = messageBytes("/a");
    for (const uint32_t badLength : {0u, 0xFFFFFFFFu, 0x80000000u, 21u}) {
        SCOPED_TRACE(badLength);
        Bytes bytes = bundleBytes({a});
        append(bytes, lengthPrefix(badLength));
        append(bytes, messageBytes("/b"));  // 20 bytes follow, never 21
        append(bytes, test::bytesFromHex("00 00 00 08"));
        append(bytes, messageBytes("/c"));
        LogCapture capture;
        EXPECT_EQ(summary(parse(bytes)), Lines{"/a"});
        EXPECT_EQ(capture.lines(), Lines{lengthError(static_cast<int32_t>(badLength))});
    }
    {
        // One to three bytes after the last element cannot hold a length.
        Bytes bytes = bundleBytes({a});
        append(bytes, test::bytesFromHex("00 00"));
        LogCapture capture;
        EXPECT_EQ(summary(parse(bytes)), Lines{"/a"});
        EXPECT_EQ(capture.lines(),
                  Lines{std::string("\t\terr: breaking, element length cut off. ") + kMethod});
    }
    {
        // An inner length that would reach past its own bundle, though not past the datagram.
        Bytes inner = bundleBytes({messageBytes("/b")});
        append(inner, lengthPrefix(12));
        append(inner, messageBytes("/c"));  // 8 bytes
        Bytes bytes = bundleBytes({inner, messageBytes("/d", 4)});
        LogCapture capture;
        EXPECT_EQ(summary(parse(bytes)), (Lines{"/b", "/d"}));
        EXPECT_EQ(capture.lines(), Lines{lengthError(12)});
    }
}

TEST(OSCPacketParse, NestingDepthIsBounded) {
    // Sixteen levels are decoded; a seventeenth is refused, which ends the walk of the sixteenth.
    Bytes level = bundleBytes({messageBytes("/deep")});
    level = bundleBytes({messageBytes("/ok16"), level, messageBytes("/skipped")});
    for (int depth = 15; depth >= 1; --depth)
        level = bundleBytes({level, messageBytes(stringWithFormat("/after%d", depth))});
    LogCapture capture;
    const Lines delivered = summary(parse(level));
    ASSERT_EQ(delivered.size(), 16u);
    EXPECT_EQ(delivered.front(), "/ok16");
    EXPECT_EQ(delivered[1], "/after15");
    EXPECT_EQ(delivered.back(), "/after1");
    EXPECT_EQ(capture.lines(),
              Lines{std::string("\t\terr: breaking, bundles nested deeper than 16. ") + kMethod});

    Bytes sixteen = bundleBytes({messageBytes("/deepest")});
    for (int depth = 15; depth >= 1; --depth) sixteen = bundleBytes({sixteen});
    EXPECT_EQ(summary(parse(sixteen)), Lines{"/deepest"});
}

TEST(OSCPacketParse, EveryTruncationIsSafeAndDeliversAPrefix) {
    auto inner = OSCBundle::createWithElement(OSCMessage::createWithAddress(std::string("/in")));
    auto outer = OSCBundle::create();
    auto first = OSCMessage::createWithAddress(std::string("/first"));
    first->addString(std::string("text"));
    first->addInt(7);
    outer->addElementArray({first, inner, OSCMessage::createWithAddress(std::string("/last"))});
    Bytes full(static_cast<size_t>(outer->bufferLength()));
    outer->writeToBuffer(full.data());
    const Lines all = summary(parse(full));
    ASSERT_EQ(all, (Lines{"/first", "/in", "/last"}));

    LogCapture capture;
    for (size_t length = 0; length < full.size(); ++length) {
        const Lines some = summary(parse(Bytes(full.begin(), full.begin() + length)));
        ASSERT_LE(some.size(), all.size());
        EXPECT_TRUE(std::equal(some.begin(), some.end(), all.begin())) << length;
    }
}
