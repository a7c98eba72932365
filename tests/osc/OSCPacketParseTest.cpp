#include <gtest/gtest.h>

#include "basics/Log.h"
#include "osc/OSCBundle.h"
#include "osc/OSCMessage.h"
#include "osc/OSCPacket.h"
#include "support/CollectingReceiver.h"
#include "support/OscWire.h"

using namespace vitrine;
using test::Bytes;
using test::field;
using test::join;
using test::word;
using Lines = std::vector<std::string>;

namespace {

constexpr const char* kMethod =
    "+[OSCBundle parseRawBuffer:ofMaxLength:toInPort:inheritedTimeTag:fromAddr:port:]";
const std::string kBreaking =
    std::string("\t\terr: breaking, message couldn't be parsed. ") + kMethod;
const std::string kCutOff = std::string("\t\terr: breaking, element length cut off. ") + kMethod;
const std::string kNoTypeTags = "\t\terr: msg type tag string not present";
const std::string kTruncated = "\t\terr: msg argument data runs past the end";
const std::string kNotUTF8 = "\t\terr: msg address is not valid UTF-8";
const std::string kTooDeep = "\t\terr: msg arrays nested too deeply";
const std::string kNoTagEnd = "\t\terr: couldn't find the msg type end index";
constexpr uint32_t kSender = 0x0100007F;  // 127.0.0.1 as it arrives, network order
constexpr uint16_t kSenderPort = 0x3930;

std::string lengthError(uint32_t length) {
    return stringWithFormat("\t\terr: breaking, element length %d doesn't fit in the bundle. %s",
                            static_cast<int32_t>(length), kMethod);
}

Bytes messageBytes(const std::string& address) {
    return *OSCMessage::createWithAddress(address)->writeToNSData();
}

// A bundle of encoded elements, each given its length, with the time tag's two words.
Bytes bundleBytes(const std::vector<Bytes>& elements, uint32_t seconds = 0,
                  uint32_t microseconds = 1) {
    Bytes bytes = join({field("#bundle"), word(seconds), word(microseconds)});
    for (const auto& element : elements)
        bytes = join({bytes, word(static_cast<uint32_t>(element.size())), element});
    return bytes;
}

// Decodes a copy of exactly `bytes`, so that the sanitizers catch any read past the datagram.
std::vector<std::shared_ptr<OSCMessage>> parse(const Bytes& bytes) {
    test::CollectingReceiver receiver;
    const auto copy = std::make_unique<uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get());
    OSCPacket::parseRawBuffer(bytes.empty() ? nullptr : copy.get(),
                              static_cast<int32_t>(bytes.size()), &receiver, kSender, kSenderPort);
    return receiver.messages;
}

// The values of the one message a datagram holds, described.
Lines values(const Bytes& datagram) {
    const auto messages = parse(datagram);
    if (messages.size() != 1) return {"(" + std::to_string(messages.size()) + " messages)"};
    Lines texts;
    for (int32_t i = 0; i < messages[0]->valueCount(); ++i)
        texts.push_back(messages[0]->valueAtIndex(i)->description());
    return texts;
}

// "address@time" per message, "address" for one without a time tag.
Lines summary(const std::vector<std::shared_ptr<OSCMessage>>& messages) {
    Lines lines;
    for (const auto& message : messages) {
        std::string line = message->address().value_or("(none)");
        if (message->timeTag()) line += stringWithFormat("@%g", *message->timeTag());
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

TEST(OSCMessageParse, AddressFormsQueriesRepliesAndMalformedHashAddresses) {
    using Case =
        std::tuple<std::string, OSCMessageType, OSCQueryType, std::optional<std::string>, bool>;
    const std::vector<Case> cases = {
        {"/connected", OSCMessageTypeControl, OSCQueryTypeUnknown, "/connected", false},
        {"/a/", OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration, "/a", false},
        {"", OSCMessageTypeControl, OSCQueryTypeUnknown, "/", false},
        {"synth", OSCMessageTypeControl, OSCQueryTypeUnknown, "/synth", false},
        {"/synth/#documentation", OSCMessageTypeQuery, OSCQueryTypeDocumentation, "/synth", false},
        {"/#type-signature", OSCMessageTypeQuery, OSCQueryTypeTypeSignature, "/", false},
        {"/a/b/#current-value", OSCMessageTypeQuery, OSCQueryTypeCurrentValue, "/a/b", false},
        {"x/#return-type-string", OSCMessageTypeQuery, OSCQueryTypeReturnTypeString, "/x", false},
        {"/s/#documentatio", OSCMessageTypeQuery, OSCQueryTypeUnknown, "/s/#documentatio", false},
        {"/a#b", OSCMessageTypeControl, OSCQueryTypeUnknown, "/a#b", false},
        {"/a/*", OSCMessageTypeControl, OSCQueryTypeUnknown, "/a/*", true},
        {"#reply", OSCMessageTypeReply, OSCQueryTypeUnknown, std::nullopt, false},
        {"#error", OSCMessageTypeError, OSCQueryTypeUnknown, std::nullopt, false},
        // Only six bytes are compared; the type tags follow at 8 whatever comes after them.
        {"#replyX", OSCMessageTypeReply, OSCQueryTypeUnknown, std::nullopt, false},
        // Neither reply nor error: the values are kept without an address, and a line is logged.
        {"#foo", OSCMessageTypeUnknown, OSCQueryTypeUnknown, std::nullopt, false},
        {"#\xFF", OSCMessageTypeUnknown, OSCQueryTypeUnknown, std::nullopt, false},
    };
    LogCapture capture;
    for (const auto& [wire, type, query, address, wildcards] : cases) {
        const auto messages = parse(join({field(wire), field(",i"), word(7)}));
        ASSERT_EQ(messages.size(), 1u) << wire;
        const auto& message = messages[0];
        EXPECT_EQ(message->messageType(), type) << wire;
        EXPECT_EQ(message->queryType(), query) << wire;
        EXPECT_EQ(message->address(), address) << wire;
        EXPECT_EQ(message->wildcardsInAddress(), wildcards) << wire;
        EXPECT_EQ(message->valueCount() == 1 ? message->value()->description() : "", "<OSCVal i 7>")
            << wire;
        EXPECT_EQ(std::pair(message->queryTXAddress(), message->queryTXPort()),
                  std::pair(kSender, kSenderPort));
    }
    // Bytes that are not UTF-8 appear escaped in the line.
    const std::string method = " in +[OSCMessage parseRawBuffer:ofMaxLength:fromAddr:port:]";
    EXPECT_EQ(capture.lines(), (Lines{"\t\tfinished parsing malformed query #foo" + method,
                                      "\t\tfinished parsing malformed query #\\xFF" + method}));
}

TEST(OSCMessageParse, EveryTagDecodesItsData) {
    const Bytes datagram =
        join({field("/all"), field(",ifsSbhdtrmETFNIcxc"), word(0xFFFFFFFE), word(0x40490FDB),
              field("jar"), field(""), word(3), Bytes{1, 2, 3, 0}, word(0x80000000), word(1),
              word(0x3FF80000), word(0), word(3), word(500000), Bytes{255, 0, 51, 255},
              Bytes{1, 0x90, 60, 127}, word(0x20108304), word(0x141), word(0xFFFFFFFF)});
    // "c" takes four bytes and keeps the low one, sign included; the unknown "x" takes none.
    EXPECT_EQ(
        values(datagram),
        (Lines{"<OSCVal i -2>", "<OSCVal f 3.141593>", "<OSCVal s jar>", "<OSCVal s >",
               "<OSCVal b: <010203>>", "<OSCVal h: -9223372036854775807>", "<OSCVal d: 1.500000>",
               "<OSCVal t: 3-500000>", "<OSCVal r OSCColor(1.000 0.000 0.200 1.000)>",
               "<OSCVal m 1-144-60-127>", "<OSCVal E: 537953028>", "<OSCVal T>", "<OSCVal F>",
               "<OSCVal N>", "<OSCVal I>", "<OSCVal c: A>", "<OSCVal c: \xFF>"}));
    // The count and the bytes of a blob are enough; its missing padding is never read.
    EXPECT_EQ(values(join({field("/a"), field(",b"), word(5), Bytes{1, 2, 3, 4, 5}})),
              Lines{"<OSCVal b: <01020304 05>>"});
}

TEST(OSCMessageParse, ArraysNestToTheBoundAndUnbalancedBracketsAreTolerated) {
    EXPECT_EQ(
        values(join({field("/a"), field(",[i[f]]i"), word(1), word(0x3F800000), word(2)})),
        (Lines{"<OSCVal [(<OSCVal i 1>, <OSCVal [(<OSCVal f 1.000000>)]>)]>", "<OSCVal i 2>"}));
    // A stray "]" is ignored; an array never closed is dropped with its contents.
    EXPECT_EQ(values(join({field("/a"), field(",]i[i"), word(5), word(6)})), Lines{"<OSCVal i 5>"});

    const size_t depth = OSCMessage::kMaxArrayDepth;
    const auto deepest =
        parse(join({field("/a"), field("," + std::string(depth, '[') + std::string(depth, ']'))}));
    ASSERT_EQ(deepest.size(), 1u);
    EXPECT_EQ(deepest[0]->value()->typeSignatureLength(), 2 * static_cast<int32_t>(depth));
}

TEST(OSCMessageParse, AStringThatIsNotUTF8LosesOnlyItsOwnValue) {
    LogCapture capture;
    EXPECT_EQ(values(join({field("/a"), field(",sis"), field("\xC0\xAF"), word(7), field("ok")})),
              (Lines{"<OSCVal i 7>", "<OSCVal s ok>"}));
    EXPECT_EQ(capture.lines(), Lines{"\t\terr: -[OSCValue initWithString:] - BAIL"});
}

TEST(OSCPacketParse, EveryGuardDropsWhatItMustAndLogsItsLine) {
    const Bytes a = messageBytes("/a");
    const Bytes bad = test::bytesFromHex("2F 62 00 00");  // "/b" without type tags
    const auto args = [](const char* tags, const Bytes& data) {
        return join({field("/a"), field(tags), data});
    };
    // A bundle holding "/a", then `length` where the next element's length belongs, then more.
    const auto badLength = [&](uint32_t length) {
        return join({bundleBytes({a}), word(length), messageBytes("/b"), word(8), a});
    };
    const std::string deep = std::string(",").append(OSCMessage::kMaxArrayDepth + 1, '[');
    const Bytes innerTooLong = join({bundleBytes({messageBytes("/b")}), word(12), a});
    struct Case {
        std::string what;
        Bytes datagram;
        Lines delivered;
        Lines log;
    };
    const std::vector<Case> cases = {
        {"no type tags", field("/a"), {}, {kNoTypeTags}},
        {"tags without comma", join({field("/a"), field("xi")}), {}, {kNoTypeTags}},
        {"address without NUL", {'/', 'a', 'b', 'c', 'd', 'e'}, {}, {kNoTypeTags}},
        // "#reply" must lie within the datagram: here it is a "#" address without a NUL.
        {"#reply cut short", {'#', 'r', 'e', 'p'}, {}, {kNoTypeTags}},
        {"tags without NUL", {'/', 'a', 'b', 'c', ',', 'i'}, {}, {kNoTagEnd}},
        {"tags cut", join({field("/a"), Bytes{',', 'i', 'i'}}), {}, {kNoTagEnd}},
        {"arrays too deep", args(deep.c_str(), {}), {}, {kTooDeep}},
        {"surrogate address", join({field("/a\xED\xA0\x80"), field(",")}), {}, {kNotUTF8}},
        {"query address", join({field("/\xFF/#documentation"), field(",")}), {}, {kNotUTF8}},
        {"int cut", args(",i", {0, 0, 0}), {}, {kTruncated}},
        {"long cut", args(",h", {0, 0, 0, 0, 0, 0, 0}), {}, {kTruncated}},
        {"second int missing", args(",ii", word(1)), {}, {kTruncated}},
        {"int in array missing", args(",[i]", {}), {}, {kTruncated}},
        // A string whose NUL would lie past the end is cut, not read on to a NUL.
        {"string without NUL", args(",s", {'a', 'b', 'c', 'd'}), {}, {kTruncated}},
        {"string missing", args(",s", {}), {}, {kTruncated}},
        {"blob count cut", args(",b", {0, 0, 0}), {}, {kTruncated}},
        {"blob a byte short", args(",b", join({word(5), {1, 2, 3, 4}})), {}, {kTruncated}},
        {"blob count huge", args(",b", join({word(0xFFFFFFFF), word(0)})), {}, {kTruncated}},
        {"blob count wrapping", args(",b", join({word(0xFFFFFFFC), word(0)})), {}, {kTruncated}},
        {"element length 0", badLength(0), {"/a"}, {lengthError(0)}},
        {"element length -1", badLength(0xFFFFFFFF), {"/a"}, {lengthError(0xFFFFFFFF)}},
        {"element length INT_MIN", badLength(0x80000000), {"/a"}, {lengthError(0x80000000)}},
        {"element length past the end", badLength(21), {"/a"}, {lengthError(21)}},
        {"length cut after an element", join({bundleBytes({a}), {0, 0}}), {"/a"}, {kCutOff}},
        {"length cut after the header", join({bundleBytes({}), {0}}), {}, {kCutOff}},
        {"inner length too long", bundleBytes({innerTooLong, a}), {"/b", "/a"}, {lengthError(12)}},
        {"unparsable element", bundleBytes({a, bad, a}), {"/a"}, {kNoTypeTags, kBreaking}},
        // The enclosing bundle knows where the next element starts and goes on with it.
        {"unparsable inner element",
         bundleBytes({a, bundleBytes({messageBytes("/b"), bad, a}), messageBytes("/d")}),
         {"/a", "/b", "/d"},
         {kNoTypeTags, kBreaking}},
    };
    for (const auto& c : cases) {
        LogCapture capture;
        EXPECT_EQ(summary(parse(c.datagram)), c.delivered) << c.what;
        EXPECT_EQ(capture.lines(), c.log) << c.what;
    }
    LogCapture capture;
    EXPECT_EQ(OSCMessage::parseRawBuffer(a.data(), -4, 0, 0), nullptr);
    EXPECT_EQ(capture.lines(), Lines{kNoTypeTags});
    // Without a receiver or a buffer nothing happens, and a header alone is no error.
    capture.clear();
    const Bytes bundle = bundleBytes({a});
    OSCPacket::parseRawBuffer(bundle.data(), static_cast<int32_t>(bundle.size()), nullptr, 0, 0);
    OSCBundle::parseRawBuffer(bundle.data(), static_cast<int32_t>(bundle.size()), nullptr,
                              std::nullopt, 0, 0);
    EXPECT_EQ(OSCMessage::parseRawBuffer(nullptr, 8, 0, 0), nullptr);
    EXPECT_EQ(OSCMessage::parseRawBuffer(a.data(), 0, 0, 0), nullptr);
    EXPECT_TRUE(parse(bundleBytes({})).empty());
    EXPECT_TRUE(capture.lines().empty());
}

TEST(OSCPacketParse, BundlesDeliverTheirMessagesInOrderWithTheTimeTagInForce) {
    const std::vector<Bytes> two = {messageBytes("/a"), messageBytes("/b")};
    EXPECT_EQ(summary(parse(bundleBytes(two))), (Lines{"/a", "/b"}));
    EXPECT_EQ(summary(parse(bundleBytes(two, 0, 0))), (Lines{"/a", "/b"}));
    const auto timed = parse(bundleBytes(two, 10, 0x3D090));
    EXPECT_EQ(summary(timed), (Lines{"/a@10.25", "/b@10.25"}));

    // Nested bundles inherit the time tag unless they carry one of their own.
    const Bytes immediateInner = bundleBytes({messageBytes("/in1"), messageBytes("/in2")});
    const Bytes outer = bundleBytes(
        {messageBytes("/first"), immediateInner, bundleBytes({messageBytes("/own")}, 3, 0),
         bundleBytes({bundleBytes({messageBytes("/deep")})}), messageBytes("/last")},
        1, 500000);
    EXPECT_EQ(summary(parse(outer)),
              (Lines{"/first@1.5", "/in1@1.5", "/in2@1.5", "/own@3", "/deep@1.5", "/last@1.5"}));
    EXPECT_EQ(summary(parse(bundleBytes({immediateInner}))), (Lines{"/in1", "/in2"}));

    // "#b" is enough to make a bundle.
    Bytes loose = bundleBytes({messageBytes("/a")});
    loose[2] = 'x';
    loose[6] = 'y';
    EXPECT_EQ(summary(parse(loose)), Lines{"/a"});
}

TEST(OSCPacketParse, NestingDepthIsBounded) {
    // Sixteen levels are decoded; a seventeenth is refused, which ends the walk of the sixteenth.
    Bytes level = bundleBytes({messageBytes("/deep")});
    level = bundleBytes({messageBytes("/ok16"), level, messageBytes("/skipped")});
    for (int depth = 15; depth >= 1; --depth)
        level = bundleBytes({level, messageBytes(stringWithFormat("/after%d", depth))});
    LogCapture capture;
    Lines expected = {"/ok16"};
    for (int depth = 15; depth >= 1; --depth)
        expected.push_back(stringWithFormat("/after%d", depth));
    EXPECT_EQ(summary(parse(level)), expected);
    EXPECT_EQ(capture.lines(),
              Lines{std::string("\t\terr: breaking, bundles nested deeper than 16. ") + kMethod});

    Bytes sixteen = bundleBytes({messageBytes("/deepest")});
    for (int depth = 15; depth >= 1; --depth) sixteen = bundleBytes({sixteen});
    EXPECT_EQ(summary(parse(sixteen)), Lines{"/deepest"});
}

TEST(OSCPacketParse, EveryTruncationIsSafeAndDeliversAPrefix) {
    auto first = test::numbered("/first", 7);
    first->addString(std::string("text"));
    auto outer = OSCBundle::createWithElementArray(
        {first, OSCBundle::createWithElement(OSCMessage::createWithAddress(std::string("/in"))),
         OSCMessage::createWithAddress(std::string("/last"))});
    const Bytes full = test::encoded(outer);
    const Lines all = summary(parse(full));
    ASSERT_EQ(all, (Lines{"/first", "/in", "/last"}));
    LogCapture capture;
    for (size_t length = 0; length < full.size(); ++length) {
        const Lines some = summary(parse(Bytes(full.begin(), full.begin() + length)));
        ASSERT_LE(some.size(), all.size());
        EXPECT_TRUE(std::equal(some.begin(), some.end(), all.begin())) << length;
    }
}
