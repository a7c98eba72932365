#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "basics/Log.h"
#include "osc/OSCMessage.h"
#include "support/OscWire.h"

using namespace vitrine;
using test::Bytes;
using test::field;
using test::join;
using test::word;

namespace {

const std::string kTruncated = "\t\terr: msg argument data runs past the end";
const std::string kNoTypeTags = "\t\terr: msg type tag string not present";

// Parses from a heap block of exactly the datagram's size, so that the address sanitizer sees any
// read beyond it.
std::shared_ptr<OSCMessage> parse(const Bytes& datagram) {
    const auto exact = std::make_unique<uint8_t[]>(datagram.size());
    std::memcpy(exact.get(), datagram.data(), datagram.size());
    return OSCMessage::parseRawBuffer(exact.get(), static_cast<int32_t>(datagram.size()),
                                      0x0100007F, 4242);
}

std::vector<std::string> descriptions(const OSCMessage& message) {
    std::vector<std::string> texts;
    for (int32_t i = 0; i < message.valueCount(); ++i)
        texts.push_back(message.valueAtIndex(i)->description());
    return texts;
}

}  // namespace

TEST(OSCMessageParse, AddressFormsAndQueries) {
    struct Case {
        std::string wire;
        OSCMessageType type;
        OSCQueryType query;
        std::optional<std::string> address;
        bool wildcards;
    };
    const std::vector<Case> cases = {
        {"/connected", OSCMessageTypeControl, OSCQueryTypeUnknown, "/connected", false},
        {"/a/", OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration, "/a", false},
        {"/", OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration, "/", false},
        {"", OSCMessageTypeControl, OSCQueryTypeUnknown, "/", false},
        {"synth", OSCMessageTypeControl, OSCQueryTypeUnknown, "/synth", false},
        {"/synth/#documentation", OSCMessageTypeQuery, OSCQueryTypeDocumentation, "/synth", false},
        {"/#type-signature", OSCMessageTypeQuery, OSCQueryTypeTypeSignature, "/", false},
        {"/a/b/#current-value", OSCMessageTypeQuery, OSCQueryTypeCurrentValue, "/a/b", false},
        {"x/#return-type-string", OSCMessageTypeQuery, OSCQueryTypeReturnTypeString, "/x", false},
        {"/s/#documentatio", OSCMessageTypeQuery, OSCQueryTypeUnknown, "/s/#documentatio", false},
        {"/synth/#", OSCMessageTypeQuery, OSCQueryTypeUnknown, "/synth/#", false},
        {"/a#b", OSCMessageTypeControl, OSCQueryTypeUnknown, "/a#b", false},
        {"/a/*", OSCMessageTypeControl, OSCQueryTypeUnknown, "/a/*", true},
        {"/a/[bc]", OSCMessageTypeControl, OSCQueryTypeUnknown, "/a/[bc]", true},
        {"/a/{b,c}", OSCMessageTypeControl, OSCQueryTypeUnknown, "/a/{b,c}", false},
        {"/jarres/é", OSCMessageTypeControl, OSCQueryTypeUnknown, "/jarres/é", false},
    };
    LogCapture capture;
    for (const auto& c : cases) {
        const auto message = parse(join({field(c.wire), field(",i"), word(7)}));
        ASSERT_NE(message, nullptr) << c.wire;
        EXPECT_EQ(message->messageType(), c.type) << c.wire;
        EXPECT_EQ(message->queryType(), c.query) << c.wire;
        EXPECT_EQ(message->address(), c.address) << c.wire;
        EXPECT_EQ(message->wildcardsInAddress(), c.wildcards) << c.wire;
        EXPECT_EQ(descriptions(*message), std::vector<std::string>{"<OSCVal i 7>"}) << c.wire;
        EXPECT_EQ(message->queryTXAddress(), 0x0100007Fu);
        EXPECT_EQ(message->queryTXPort(), 4242);
    }
    EXPECT_TRUE(capture.lines().empty());
}

TEST(OSCMessageParse, ReplyErrorAndMalformedHashAddresses) {
    for (const auto& [wire, type] :
         {std::pair{"#reply", OSCMessageTypeReply}, std::pair{"#error", OSCMessageTypeError}}) {
        const auto message = parse(join({field(wire), field(",s"), field("/a")}));
        ASSERT_NE(message, nullptr) << wire;
        EXPECT_EQ(message->messageType(), type);
        EXPECT_EQ(message->address(), std::nullopt);
        EXPECT_EQ(descriptions(*message), std::vector<std::string>{"<OSCVal s /a>"});
    }
    // Only six bytes are compared; the type tags follow at 8 whatever comes after them.
    EXPECT_EQ(parse(join({field("#replyX"), field(","), word(0)}))->messageType(),
              OSCMessageTypeReply);

    LogCapture capture;
    const auto malformed = parse(join({field("#foo"), field(",i"), word(3)}));
    ASSERT_NE(malformed, nullptr);
    EXPECT_EQ(malformed->messageType(), OSCMessageTypeUnknown);
    EXPECT_EQ(malformed->address(), std::nullopt);
    EXPECT_EQ(descriptions(*malformed), std::vector<std::string>{"<OSCVal i 3>"});
    // Bytes that are not UTF-8 appear escaped in the line.
    EXPECT_NE(parse(join({field("#\xFF"), field(",")})), nullptr);
    const std::string method = " in +[OSCMessage parseRawBuffer:ofMaxLength:fromAddr:port:]";
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"\t\tfinished parsing malformed query #foo" + method,
                                        "\t\tfinished parsing malformed query #\\xFF" + method}));
}

TEST(OSCMessageParse, EveryTagDecodesItsData) {
    const Bytes datagram =
        join({field("/all"), field(",ifsSbhdtrmETFNIcxc"), word(0xFFFFFFFE), word(0x40490FDB),
              field("jar"), field(""), word(3), Bytes{1, 2, 3, 0}, word(0x80000000), word(1),
              word(0x3FF80000), word(0), word(3), word(500000), Bytes{255, 0, 51, 255},
              Bytes{1, 0x90, 60, 127}, word(0x20108304), word(0x141), word(0xFFFFFFFF)});
    const auto message = parse(datagram);
    ASSERT_NE(message, nullptr);
    auto texts = descriptions(*message);
    ASSERT_EQ(texts.size(), 17u);
    texts.pop_back();
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "<OSCVal i -2>", "<OSCVal f 3.141593>", "<OSCVal s jar>", "<OSCVal s >",
                         "<OSCVal b: <010203>>", "<OSCVal h: -9223372036854775807>",
                         "<OSCVal d: 1.500000>", "<OSCVal t: 3-500000>",
                         "<OSCVal r OSCColor(1.000 0.000 0.200 1.000)>", "<OSCVal m 1-144-60-127>",
                         "<OSCVal E: 537953028>", "<OSCVal T>", "<OSCVal F>", "<OSCVal N>",
                         "<OSCVal I>", "<OSCVal c: A>"}));
    // "c" takes four bytes and keeps the low one, sign included; the unknown "x" takes none.
    EXPECT_EQ(message->valueAtIndex(16)->type(), OSCValChar);
    EXPECT_EQ(message->valueAtIndex(16)->charValue(), -1);

    // The count and the bytes of a blob are enough; its missing padding is never read.
    const auto blob = parse(join({field("/a"), field(",b"), word(5), Bytes{1, 2, 3, 4, 5}}));
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(*blob->value()->blobNSData(), (OSCData{1, 2, 3, 4, 5}));
}

TEST(OSCMessageParse, ArraysNestToTheBoundAndUnbalancedBracketsAreTolerated) {
    const auto nested =
        parse(join({field("/a"), field(",[i[f]]i"), word(1), word(0x3F800000), word(2)}));
    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(descriptions(*nested),
              (std::vector<std::string>{
                  "<OSCVal [(<OSCVal i 1>, <OSCVal [(<OSCVal f 1.000000>)]>)]>", "<OSCVal i 2>"}));
    // A stray "]" is ignored; an array never closed is dropped with its contents.
    EXPECT_EQ(descriptions(*parse(join({field("/a"), field(",]i[i"), word(5), word(6)}))),
              std::vector<std::string>{"<OSCVal i 5>"});

    const size_t depth = OSCMessage::kMaxArrayDepth;
    const auto deepest =
        parse(join({field("/a"), field("," + std::string(depth, '[') + std::string(depth, ']'))}));
    ASSERT_NE(deepest, nullptr);
    EXPECT_EQ(deepest->value()->typeSignatureLength(), 2 * static_cast<int32_t>(depth));
    // Many arrays one after another are fine: only the depth is bounded.
    std::string flat = ",";
    for (int i = 0; i < 1000; ++i) flat += "[N]";
    EXPECT_EQ(parse(join({field("/a"), field(flat)}))->valueCount(), 1000);
}

TEST(OSCMessageParse, AStringThatIsNotUTF8LosesOnlyItsOwnValue) {
    LogCapture capture;
    const auto message =
        parse(join({field("/a"), field(",sis"), field("\xC0\xAF"), word(7), field("ok")}));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(descriptions(*message), (std::vector<std::string>{"<OSCVal i 7>", "<OSCVal s ok>"}));
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"\t\terr: -[OSCValue initWithString:] - BAIL"});
}

TEST(OSCMessageParse, ReadsOnlyItsOwnLengthAndRefusesImpossibleOnes) {
    // As for a bundle element: the bytes after the length belong to something else.
    const Bytes buffer = join({field("/a"), field(",i"), word(1), field(",ii"), word(2), word(3)});
    EXPECT_EQ(OSCMessage::parseRawBuffer(buffer.data(), 12, 0, 0)->valueCount(), 1);
    const Bytes text = join({field("/a"), field(",s"), field("abcdefg")});
    const Bytes reply = join({field("#reply"), field(",")});
    LogCapture capture;
    EXPECT_EQ(OSCMessage::parseRawBuffer(buffer.data(), 11, 0, 0), nullptr);
    // A string whose NUL lies beyond the length is cut, not read to that NUL.
    EXPECT_EQ(OSCMessage::parseRawBuffer(text.data(), 15, 0, 0), nullptr);
    // "#reply" must lie within the length: in four bytes it is a "#" address without a NUL.
    EXPECT_EQ(OSCMessage::parseRawBuffer(reply.data(), 4, 0, 0), nullptr);
    EXPECT_EQ(OSCMessage::parseRawBuffer(reply.data(), -4, 0, 0), nullptr);
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{kTruncated, kTruncated, kNoTypeTags, kNoTypeTags}));
    // Nothing at all is no error.
    capture.clear();
    EXPECT_EQ(OSCMessage::parseRawBuffer(nullptr, 8, 0, 0), nullptr);
    EXPECT_EQ(OSCMessage::parseRawBuffer(reply.data(), 0, 0, 0), nullptr);
    EXPECT_TRUE(capture.lines().empty());
}
