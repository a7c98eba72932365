#include <gtest/gtest.h>

#include <bit>

#include "basics/Log.h"
#include "osc/OSCMessage.h"

using namespace vitrine;
using V = OSCValue;

namespace {

// Every value type at an edge of its encoding: strings and blobs of every length modulo 4
// (padding), NaNs with payloads, extreme integers and time tags, colours in whole 255ths (exact
// through the byte encoding), and arrays.
std::vector<std::shared_ptr<OSCValue>> everyValue() {
    std::vector<std::shared_ptr<OSCValue>> values = {
        V::createWithInt(INT32_MIN),
        V::createWithFloat(std::bit_cast<float>(0x7FA00001u)),
        V::createWithString("é€\U0001F3FA\U0010FFFF"),
        V::createWithTimeSeconds(0xFFFFFFFFll, 999999),
        V::createWithLongLong(INT64_MIN),
        V::createWithDouble(std::bit_cast<double>(~0ull >> 1)),
        V::createWithChar(-128),
        V::createWithColor(OSCColor{0, 1 / 255.0, 128 / 255.0, 1}),
        V::createWithMIDIChannel(0xFF, 0x90, 60, 127),
        V::createWithBool(true),
        V::createWithBool(false),
        V::createWithNil(),
        V::createWithInfinity(),
        V::createWithSMPTEChunk(-1)};
    for (size_t length = 0; length <= 8; ++length) {
        values.push_back(V::createWithString(std::string(length, 'x')));
        values.push_back(V::createWithNSDataBlob(std::make_shared<OSCData>(length, 0xA5)));
    }
    // [T[[]s][]d]: arrays nested, empty and side by side, holding data and data-less tags.
    auto inner = V::createArray();
    inner->addValue(V::createArray());
    inner->addValue(values[2]);
    auto outer = V::createArray();
    for (const auto& value : {values[9], inner, V::createArray(), values[5]})
        outer->addValue(value);
    values.push_back(outer);
    return values;
}

// One message of each kind on the wire, all with every value.
std::vector<std::shared_ptr<OSCMessage>> everyKind() {
    const std::vector<std::tuple<std::optional<std::string>, OSCMessageType, OSCQueryType>> kinds =
        {{"/jarres/é", OSCMessageTypeControl, OSCQueryTypeUnknown},
         {"/a*/b?", OSCMessageTypeControl, OSCQueryTypeUnknown},
         {"/", OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration},
         {"/a", OSCMessageTypeQuery, OSCQueryTypeDocumentation},
         {"/a/b", OSCMessageTypeQuery, OSCQueryTypeTypeSignature},
         {"/x", OSCMessageTypeQuery, OSCQueryTypeCurrentValue},
         {"/x", OSCMessageTypeQuery, OSCQueryTypeReturnTypeString},
         {std::nullopt, OSCMessageTypeReply, OSCQueryTypeUnknown},
         {std::nullopt, OSCMessageTypeError, OSCQueryTypeUnknown}};
    std::vector<std::shared_ptr<OSCMessage>> messages;
    for (const auto& [address, type, query] : kinds) {
        messages.push_back(OSCMessage::createFast(address, address == "/a*/b?", type, query, 0, 0));
        for (const auto& value : everyValue()) messages.back()->addValue(value);
    }
    messages.push_back(OSCMessage::createWithAddress(std::string("/empty")));
    return messages;
}

void expectSameMessage(const OSCMessage& sent, const OSCMessage& received) {
    SCOPED_TRACE(sent.description() + " -> " + received.description());
    EXPECT_EQ(received.messageType(), sent.messageType());
    EXPECT_EQ(received.queryType(), sent.queryType());
    EXPECT_EQ(received.address(), sent.address());
    EXPECT_EQ(received.wildcardsInAddress(), sent.wildcardsInAddress());
    EXPECT_EQ(received.queryTXAddress(), 0x0100007Fu);
    EXPECT_EQ(received.queryTXPort(), 9000);
    ASSERT_EQ(received.valueCount(), sent.valueCount());
    for (int32_t i = 0; i < sent.valueCount(); ++i)
        EXPECT_TRUE(received.valueAtIndex(i)->isEqual(*sent.valueAtIndex(i)))
            << i << ": " << received.valueAtIndex(i)->description();
}

}  // namespace

TEST(OSCRoundTrip, EveryKindAndValueDecodesEqualAndReencodesIdentically) {
    LogCapture capture;
    for (const auto& original : everyKind()) {
        const auto bytes = original->writeToNSData();
        const auto parsed = OSCMessage::parseRawBuffer(
            bytes->data(), static_cast<int32_t>(bytes->size()), 0x0100007F, 9000);
        ASSERT_NE(parsed, nullptr) << original->description();
        expectSameMessage(*original, *parsed);
        EXPECT_EQ(*parsed->writeToNSData(), *bytes);
    }
    EXPECT_TRUE(capture.lines().empty());
}
