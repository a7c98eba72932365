#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string_view>

#include "basics/Log.h"
#include "osc/OSCMessage.h"
#include "support/UdpListener.h"

using namespace vitrine;
using test::Bytes;

namespace {

const std::string kTruncated = "\t\terr: msg argument data runs past the end";
const std::string kNoTypeTags = "\t\terr: msg type tag string not present";
const std::string kNoTypeTagEnd = "\t\terr: couldn't find the msg type end index";

// A string field: the bytes, a NUL and padding up to the next multiple of 4.
Bytes field(std::string_view text) {
    Bytes bytes(text.begin(), text.end());
    bytes.resize((text.size() + 4) & ~size_t{3}, 0);
    return bytes;
}

Bytes word(uint32_t number) {
    return {uint8_t(number >> 24), uint8_t(number >> 16), uint8_t(number >> 8), uint8_t(number)};
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Parses from a heap block of exactly the datagram's size, so that the address sanitizer sees any
// read beyond it.
std::shared_ptr<OSCMessage> parse(const Bytes& datagram) {
    const auto exact = std::make_unique<uint8_t[]>(datagram.size() ? datagram.size() : 1);
    if (!datagram.empty()) std::memcpy(exact.get(), datagram.data(), datagram.size());
    return OSCMessage::parseRawBuffer(exact.get(), static_cast<int32_t>(datagram.size()),
                                      0x0100007F, 4242);
}

// A message whose parse must fail with exactly one log line.
void expectDropped(const Bytes& datagram, const std::string& line) {
    LogCapture capture;
    EXPECT_EQ(parse(datagram), nullptr) << test::hex(datagram);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{line}) << test::hex(datagram);
}

}  // namespace

TEST(OSCMessageParse, ShowcaseAnswerCarriesTheSender) {
    const auto message = parse(join({field("/connected"), field(",i"), word(1)}));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->messageType(), OSCMessageTypeControl);
    EXPECT_EQ(message->address(), "/connected");
    ASSERT_EQ(message->valueCount(), 1);
    EXPECT_EQ(message->value()->type(), OSCValInt);
    EXPECT_EQ(message->value()->intValue(), 1);
    EXPECT_EQ(message->queryTXAddress(), 0x0100007Fu);
    EXPECT_EQ(message->queryTXPort(), 4242);
}

TEST(OSCMessageParse, AddressFormsAndQueries) {
    struct Case {
        std::string wire;
        OSCMessageType type;
        OSCQueryType query;
        std::optional<std::string> address;
        bool wildcards;
    };
    const std::vector<Case> cases = {
        {"/a/", OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration, "/a", false},
        {"/", OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration, "/", false},
        {"a/", OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration, "/a", false},
        {"", OSCMessageTypeControl, OSCQueryTypeUnknown, "/", false},
        {"synth", OSCMessageTypeControl, OSCQueryTypeUnknown, "/synth", false},
        {"/synth/#documentation", OSCMessageTypeQuery, OSCQueryTypeDocumentation, "/synth", false},
        {"/#type-signature", OSCMessageTypeQuery, OSCQueryTypeTypeSignature, "/", false},
        {"/a/b/#current-value", OSCMessageTypeQuery, OSCQueryTypeCurrentValue, "/a/b", false},
        {"x/#return-type-string", OSCMessageTypeQuery, OSCQueryTypeReturnTypeString, "/x", false},
        {"/synth/#bogus", OSCMessageTypeQuery, OSCQueryTypeUnknown, "/synth/#bogus", false},
        {"/synth/#documentatio", OSCMessageTypeQuery, OSCQueryTypeUnknown, "/synth/#documentatio",
         false},
        {"/synth/#", OSCMessageTypeQuery, OSCQueryTypeUnknown, "/synth/#", false},
        {"/a#b", OSCMessageTypeControl, OSCQueryTypeUnknown, "/a#b", false},
        {"/a/*", OSCMessageTypeControl, OSCQueryTypeUnknown, "/a/*", true},
        {"/a/[bc]", OSCMessageTypeControl, OSCQueryTypeUnknown, "/a/[bc]", true},
        {"/a/{b,c}", OSCMessageTypeControl, OSCQueryTypeUnknown, "/a/{b,c}", false},
        {"/a]", OSCMessageTypeControl, OSCQueryTypeUnknown, "/a]", false},
        {"/jarres/é", OSCMessageTypeControl, OSCQueryTypeUnknown, "/jarres/é", false},
    };
    for (const auto& c : cases) {
        LogCapture capture;
        const auto message = parse(join({field(c.wire), field(",i"), word(7)}));
        ASSERT_NE(message, nullptr) << c.wire;
        EXPECT_EQ(message->messageType(), c.type) << c.wire;
        EXPECT_EQ(message->queryType(), c.query) << c.wire;
        EXPECT_EQ(message->address(), c.address) << c.wire;
        EXPECT_EQ(message->wildcardsInAddress(), c.wildcards) << c.wire;
        EXPECT_EQ(message->valueCount(), 1) << c.wire;
        EXPECT_TRUE(capture.lines().empty()) << c.wire;
    }
}

TEST(OSCMessageParse, ReplyAndErrorHaveNoAddress) {
    for (const auto& [wire, type] :
         {std::pair{"#reply", OSCMessageTypeReply}, std::pair{"#error", OSCMessageTypeError}}) {
        const auto message = parse(join({field(wire), field(",s"), field("/a")}));
        ASSERT_NE(message, nullptr) << wire;
        EXPECT_EQ(message->messageType(), type);
        EXPECT_EQ(message->address(), std::nullopt);
        ASSERT_EQ(message->valueCount(), 1);
        EXPECT_EQ(message->value()->stringValue(), "/a");
    }
    // Only the first six bytes are compared; the type tags follow at 8 whatever comes after them.
    const auto longer = parse(join({field("#replyX"), field(","), word(0)}));
    ASSERT_NE(longer, nullptr);
    EXPECT_EQ(longer->messageType(), OSCMessageTypeReply);
}

TEST(OSCMessageParse, MalformedHashAddressIsLoggedAndKeepsItsValues) {
    LogCapture capture;
    const auto message = parse(join({field("#foo"), field(",i"), word(3)}));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->messageType(), OSCMessageTypeUnknown);
    EXPECT_EQ(message->address(), std::nullopt);
    ASSERT_EQ(message->valueCount(), 1);
    EXPECT_EQ(message->value()->intValue(), 3);
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"\t\tfinished parsing malformed query #foo in "
                                       "+[OSCMessage parseRawBuffer:ofMaxLength:fromAddr:port:]"});

    // Bytes that are not UTF-8 appear escaped in that line.
    capture.clear();
    EXPECT_NE(parse(join({field("#\xFF"), field(",")})), nullptr);
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"\t\tfinished parsing malformed query #\\xFF in "
                                       "+[OSCMessage parseRawBuffer:ofMaxLength:fromAddr:port:]"});
}

TEST(OSCMessageParse, DatagramsWithoutTypeTagsAreDropped) {
    expectDropped(field("/a"), kNoTypeTags);
    expectDropped(join({field("/a"), field("xi")}), kNoTypeTags);
    // No NUL anywhere: the type tags are looked for at 4.
    expectDropped({'/', 'a', 'b', 'c', 'd', 'e'}, kNoTypeTags);
    expectDropped({'/', 'a', 'b', 'c', ',', 'i'}, kNoTypeTagEnd);
    expectDropped(join({field("/a"), Bytes{',', 'i', 'i'}}), kNoTypeTagEnd);
    // "#reply" must lie within the length: with only four bytes it is a malformed "#" address
    // without a NUL.
    const Bytes reply = join({field("#reply"), field(",")});
    {
        LogCapture capture;
        EXPECT_EQ(OSCMessage::parseRawBuffer(reply.data(), 4, 0, 0), nullptr);
        EXPECT_EQ(capture.lines(), std::vector<std::string>{kNoTypeTags});
    }
    // Nothing at all, or an impossible length.
    LogCapture capture;
    EXPECT_EQ(OSCMessage::parseRawBuffer(nullptr, 8, 0, 0), nullptr);
    EXPECT_EQ(OSCMessage::parseRawBuffer(reply.data(), 0, 0, 0), nullptr);
    EXPECT_TRUE(capture.lines().empty());
    EXPECT_EQ(OSCMessage::parseRawBuffer(reply.data(), -4, 0, 0), nullptr);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{kNoTypeTags});
}

TEST(OSCMessageParse, ArraysNestAndUnbalancedBracketsAreTolerated) {
    const auto nested =
        parse(join({field("/a"), field(",[ii]f"), word(1), word(2), word(0x3F800000)}));
    ASSERT_NE(nested, nullptr);
    ASSERT_EQ(nested->valueCount(), 2);
    const auto array = nested->valueAtIndex(0)->valueArray();
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->size(), 2u);
    EXPECT_EQ((*array)[1]->intValue(), 2);
    EXPECT_EQ(nested->valueAtIndex(1)->floatValue(), 1.0f);

    const auto closeFirst = parse(join({field("/a"), field(",]i"), word(5)}));
    ASSERT_NE(closeFirst, nullptr);
    ASSERT_EQ(closeFirst->valueCount(), 1);
    EXPECT_EQ(closeFirst->value()->intValue(), 5);

    const auto neverClosed = parse(join({field("/a"), field(",[i"), word(5)}));
    ASSERT_NE(neverClosed, nullptr);
    EXPECT_EQ(neverClosed->valueCount(), 0);

    const auto empty = parse(join({field("/a"), field(",")}));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->valueCount(), 0);
}

TEST(OSCMessageParse, ArraysNestUpToTheBound) {
    const std::string deepest = "," + std::string(OSCMessage::kMaxArrayDepth, '[') +
                                std::string(OSCMessage::kMaxArrayDepth, ']');
    const auto message = parse(join({field("/a"), field(deepest)}));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->value()->typeSignatureLength(), 2 * OSCMessage::kMaxArrayDepth);
    expectDropped(
        join({field("/a"), field("," + std::string(OSCMessage::kMaxArrayDepth + 1, '['))}),
        "\t\terr: msg arrays nested too deeply");
    // Many arrays one after another are fine: only the depth is bounded.
    std::string flat = ",";
    for (int i = 0; i < 1000; ++i) flat += "[N]";
    const auto wide = parse(join({field("/a"), field(flat)}));
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide->valueCount(), 1000);
}

TEST(OSCMessageParse, CharacterTagTakesFourBytesAndKeepsTheCharacter) {
    const auto message =
        parse(join({field("/a"), field(",cic"), word('A'), word(9), word(0xFFFFFFFF)}));
    ASSERT_NE(message, nullptr);
    ASSERT_EQ(message->valueCount(), 3);
    EXPECT_EQ(message->valueAtIndex(0)->type(), OSCValChar);
    EXPECT_EQ(message->valueAtIndex(0)->charValue(), 'A');
    EXPECT_EQ(message->valueAtIndex(1)->intValue(), 9);
    EXPECT_EQ(message->valueAtIndex(2)->charValue(), -1);
}

TEST(OSCMessageParse, EveryTagDecodesItsData) {
    const Bytes datagram =
        join({field("/all"), field(",ifsSbhdtrmETFNIx"), word(0xFFFFFFFE), word(0x40490FDB),
              field("jar"), field(""), word(3), Bytes{1, 2, 3, 0}, word(0x80000000), word(1),
              word(0x3FF80000), word(0), word(3), word(500000), Bytes{255, 0, 51, 255},
              Bytes{1, 0x90, 60, 127}, word(0x20108304)});
    const auto message = parse(datagram);
    ASSERT_NE(message, nullptr);
    std::vector<std::string> descriptions;
    for (const auto& value : *message->valueArray()) descriptions.push_back(value->description());
    EXPECT_EQ(
        descriptions,
        (std::vector<std::string>{
            "<OSCVal i -2>", "<OSCVal f 3.141593>", "<OSCVal s jar>", "<OSCVal s >",
            "<OSCVal b: <010203>>", "<OSCVal h: -9223372036854775807>", "<OSCVal d: 1.500000>",
            "<OSCVal t: 3-500000>", "<OSCVal r OSCColor(1.000 0.000 0.200 1.000)>",
            "<OSCVal m 1-144-60-127>", "<OSCVal E: 537953028>", "<OSCVal T>", "<OSCVal F>",
            "<OSCVal N>", "<OSCVal I>"}));
}

TEST(OSCMessageParse, ArgumentsRunningPastTheEndDropTheMessage) {
    const Bytes head = field("/a");
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {",i", {0, 0, 0}},
        {",f", {}},
        {",c", {0, 0}},
        {",r", {1, 2, 3}},
        {",m", {1}},
        {",E", {0, 0, 0}},
        {",h", {0, 0, 0, 0, 0, 0, 0}},
        {",d", word(0)},
        {",t", {0, 0, 0, 3, 0, 7, 0xA1}},
        {",s", {'a', 'b', 'c', 'd'}},  // no NUL before the end
        {",s", {}},
        {",b", {0, 0, 0}},                          // the count itself is cut
        {",b", join({word(5), {1, 2, 3, 4}})},      // one byte short
        {",b", join({word(0xFFFFFFFF), word(0)})},  // a count far past the end
        {",b", join({word(0xFFFFFFFC), word(0)})},  // would wrap a 32-bit position
        {",ii", word(1)},
        {",[i]", {}},
    };
    for (const auto& [tags, data] : cases)
        expectDropped(join({head, field(tags), data}), kTruncated);
}

TEST(OSCMessageParse, BlobWithoutTrailingPaddingStillDecodes) {
    // The count and the bytes are there; the missing padding is nothing anyone needs to read.
    const auto message = parse(join({field("/a"), field(",b"), word(5), Bytes{1, 2, 3, 4, 5}}));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(*message->value()->blobNSData(), (OSCData{1, 2, 3, 4, 5}));
}

TEST(OSCMessageParse, UndecodableTextIsRefused) {
    {
        // A string argument that is not UTF-8 loses only its own value.
        LogCapture capture;
        const auto message =
            parse(join({field("/a"), field(",sis"), field("\xC0\xAF"), word(7), field("ok")}));
        ASSERT_NE(message, nullptr);
        ASSERT_EQ(message->valueCount(), 2);
        EXPECT_EQ(message->valueAtIndex(0)->intValue(), 7);
        EXPECT_EQ(message->valueAtIndex(1)->stringValue(), "ok");
        EXPECT_EQ(capture.lines(),
                  std::vector<std::string>{"\t\terr: -[OSCValue initWithString:] - BAIL"});
    }
    expectDropped(join({field("/a\xED\xA0\x80"), field(",")}),
                  "\t\terr: msg address is not valid UTF-8");
    expectDropped(join({field("/\xFF/#documentation"), field(",")}),
                  "\t\terr: msg address is not valid UTF-8");
}

TEST(OSCMessageParse, ReadsOnlyItsOwnPartOfALargerBuffer) {
    // As for a bundle element: the bytes after the length belong to something else.
    Bytes buffer = join({field("/a"), field(",i"), word(1), field(",ii"), word(2), word(3)});
    const auto message = OSCMessage::parseRawBuffer(buffer.data(), 12, 0, 0);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->valueCount(), 1);
    LogCapture capture;
    EXPECT_EQ(OSCMessage::parseRawBuffer(buffer.data(), 11, 0, 0), nullptr);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{kTruncated});
    // A string whose NUL lies beyond the length is cut, not read to that NUL.
    Bytes text = join({field("/a"), field(",s"), field("abcdefg")});
    capture.clear();
    EXPECT_EQ(OSCMessage::parseRawBuffer(text.data(), 15, 0, 0), nullptr);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{kTruncated});
}
