#include <gtest/gtest.h>

#include <bit>
#include <limits>

#include "basics/Log.h"
#include "osc/OSCBundle.h"
#include "osc/OSCOutPort.h"
#include "osc/OSCQueryReply.h"
#include "support/OscWire.h"

using namespace vitrine;
using test::Bytes;
using V = OSCValue;

namespace {

std::shared_ptr<OSCMessage> message(const std::string& address,
                                    std::initializer_list<std::shared_ptr<OSCValue>> values = {}) {
    auto made = OSCMessage::createWithAddress(address);
    for (const auto& value : values) made->addValue(value);
    return made;
}

std::string hexOf(const std::shared_ptr<const OSCPacketContent>& content) {
    const Bytes bytes = test::encoded(content);
    EXPECT_EQ(static_cast<int64_t>(bytes.size()), content->bufferLength());
    return test::hex(bytes);
}

std::shared_ptr<OSCMessage> fast(const std::optional<std::string>& address, OSCMessageType type,
                                 OSCQueryType query = OSCQueryTypeUnknown) {
    return OSCMessage::createFast(address, false, type, query, 0, 0);
}

const std::string kHeader = "23 62 75 6E 64 6C 65 00";  // "#bundle" NUL
const std::string kImmediate = "00 00 00 00 00 00 00 01";
const std::string kIs = "00 00 00 08 2F 69 73 00 2C 00 00 00";  // "/is" with its length

}  // namespace

TEST(OSCMessageEncoding, AddressesTagsAndDataArePaddedAndNumbersBigEndian) {
    const auto extended = message("/x");
    extended->addDouble(0.5);
    extended->addColor(OSCColor{0.0, 1.0, 0.0, 1.0});
    extended->addBOOL(false);
    extended->addNSDataBlob(std::make_shared<const OSCData>(OSCData{0xAB}));
    extended->addValue(V::createWithSMPTEVals(OSCSMPTEFPS25, 0, 1, 2, 3, 4));
    const auto text = [](const char* s) { return V::createWithString(std::string(s)); };
    const std::vector<std::pair<std::shared_ptr<OSCMessage>, std::string>> table = {
        {test::numbered("/switch", 1), "2F 73 77 69 74 63 68 00 2C 69 00 00 00 00 00 01"},
        // Without values "," and three NULs remain.
        {message("/is"), "2F 69 73 00 2C 00 00 00"},
        {message(""), "00 00 00 00 2C 00 00 00"},
        {message("/abc"), "2F 61 62 63 00 00 00 00 2C 00 00 00"},
        {message("/a",
                 {V::createWithInt(-1), V::createWithInt(INT32_MIN), V::createWithFloat(-2.5f)}),
         "2F 61 00 00 2C 69 69 66 00 00 00 00 FF FF FF FF 80 00 00 00 C0 20 00 00"},
        {message("/m", {text(""), text("abcd"), V::createWithInt(7)}),
         "2F 6D 00 00 2C 73 73 69 00 00 00 00 00 00 00 00 61 62 63 64 00 00 00 00 00 00 00 07"},
        // ",drFbE": double, colour, no data for F, blob (count, byte, padding), SMPTE word.
        {extended,
         "2F 78 00 00 2C 64 72 46 62 45 00 00 3F E0 00 00 00 00 00 00 00 FF 00 FF 00 00 00 01 AB "
         "00 00 00 20 10 83 04"},
        // "/synth*/#documentation" (22 bytes) padded to 24, then "," and three NULs.
        {OSCMessage::createQueryType(OSCQueryTypeDocumentation, "synth*/"),
         "2F 73 79 6E 74 68 2A 2F 23 64 6F 63 75 6D 65 6E 74 61 74 69 6F 6E 00 00 2C 00 00 00"},
        // Without an address a reply still has its own; a query has none.
        {fast(std::nullopt, OSCMessageTypeReply), "23 72 65 70 6C 79 00 00 2C 00 00 00"},
        {fast(std::nullopt, OSCMessageTypeQuery, OSCQueryTypeDocumentation),
         "00 00 00 00 2C 00 00 00"},
        // "#reply", ",s", then the normalised address as a string.
        {OSCMessage::createReplyForAddress(std::string("/synth/")),
         "23 72 65 70 6C 79 00 00 2C 73 00 00 2F 73 79 6E 74 68 00 00"},
        // The error keeps the address as given, but is written under "#error" without it.
        {OSCMessage::createErrorForAddress(std::string("synth/")),
         "23 65 72 72 6F 72 00 00 2C 00 00 00"},
    };
    for (const auto& [m, hex] : table) {
        EXPECT_EQ(*m->writeToNSData(), test::encoded(m)) << hex;
        EXPECT_EQ(hexOf(m), hex);
    }
    EXPECT_EQ(OSCMessage::createErrorForAddress(std::string("synth/"))->address(), "synth/");
}

// The encoding table above and the address space's answers pin the other kinds and suffixes.
TEST(OSCMessageEncoding, EachKindWritesItsOwnAddress) {
    const std::vector<std::tuple<std::string, OSCMessageType, OSCQueryType, std::string>> table = {
        {"/a", OSCMessageTypeControl, OSCQueryTypeDocumentation, "/a"},
        {"/a", OSCMessageTypeQuery, OSCQueryTypeUnknown, "/a"},
        {"/a", OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration, "/a/"},
        {"/", OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration, "/"},
        {"/", OSCMessageTypeQuery, OSCQueryTypeCurrentValue, "/#current-value"},
        {"/a", OSCMessageTypeQuery, OSCQueryTypeReturnTypeString, "/a/#return-type-string"},
    };
    for (const auto& [address, type, kind, written] : table)
        EXPECT_EQ(fast(address, type, kind)->replyAddress(), written) << address << ' ' << kind;
}

TEST(OSCBundleEncoding, HeaderTimeTagAndLengthPrefixedElements) {
    EXPECT_EQ(hexOf(OSCBundle::create()), kHeader + " " + kImmediate);
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
    struct Other : OSCPacketContent {
        int64_t bufferLength() const override { return 4; }
        void writeToBuffer(uint8_t*) const override {}
    };
    auto bundle = OSCBundle::createWithElement(nullptr);
    bundle->addElement(std::make_shared<Other>());
    bundle->addElement(bundle);
    // Holding this would make `bundle` hold itself two levels down.
    bundle->addElement(OSCBundle::createWithElement(OSCBundle::createWithElement(bundle)));
    EXPECT_TRUE(bundle->elementArray().empty());
    const auto a = message("/a");
    bundle->addElementArray({nullptr, a, std::make_shared<Other>(), OSCBundle::create()});
    ASSERT_EQ(bundle->elementArray().size(), 2u);
    EXPECT_EQ(bundle->elementArray()[0], a);
}

TEST(OSCPacket, AbsentOrEmptyContentBailsAndABundleLeavesAsOneDatagram) {
    struct Nothing : OSCPacketContent {
        int64_t bufferLength() const override { return 0; }
        void writeToBuffer(uint8_t*) const override { ADD_FAILURE() << "nothing to write"; }
    };
    LogCapture capture;
    EXPECT_EQ(OSCPacket::createWithContent(nullptr), nullptr);
    EXPECT_EQ(OSCPacket::createWithContent(std::make_shared<Nothing>()), nullptr);
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>(2, "\t\terr: -[OSCPacket initWithContent:] - BAIL"));
    capture.clear();
    test::UdpListener listener;
    auto port = OSCOutPort::createWithAddress(std::string("127.0.0.1"), listener.port());
    auto bundle = OSCBundle::createWithElement(message("/is"));
    bundle->setTimeTag(10.25);
    port->sendThisBundle(bundle);
    EXPECT_EQ(test::hex(listener.receive().value_or(Bytes{})),
              kHeader + " 00 00 00 0A 00 03 D0 90 " + kIs);
    port->sendThisBundle(nullptr);
    port->prepareToBeDeleted();
    port->sendThisBundle(bundle);
    EXPECT_TRUE(listener.takeArrived().empty());
    EXPECT_TRUE(capture.lines().empty());
}

TEST(OSCMessage, CreationNormalisesAndValuesDistinguishMissingFromZero) {
    LogCapture capture;
    EXPECT_EQ(OSCMessage::createWithAddress(std::nullopt), nullptr);
    EXPECT_EQ(message("")->address(), std::nullopt);
    EXPECT_EQ(message("scene/")->address(), "/scene");
    EXPECT_FALSE(message("scene/")->wildcardsInAddress());
    EXPECT_TRUE(message("/jar/*")->wildcardsInAddress());
    EXPECT_TRUE(capture.lines().empty());
    auto m = message("/v");
    EXPECT_EQ(m->calculateFloatValue(), 0.0f);
    const auto first = V::createWithInt(5);
    m->addValue(first);
    m->addValue(nullptr);
    EXPECT_EQ(m->valueCount(), 1);
    EXPECT_FALSE(m->valueArray().has_value());
    // With one value, every other index reads 0; with several, a missing index reads -1.
    EXPECT_EQ(m->calculateFloatValueAtIndex(5), 0.0f);
    EXPECT_EQ(m->calculateDoubleValueAtIndex(-1), 0.0);
    m->addString(std::nullopt);
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"\t\terr: -[OSCValue initWithString:] - BAIL"});
    m->addFloat(0.5f);
    m->addString(std::string("9"));
    ASSERT_EQ(m->valueArray()->size(), 3u);
    EXPECT_EQ(m->value(), first);
    EXPECT_EQ(m->valueAtIndex(3), nullptr);
    EXPECT_EQ(m->calculateDoubleValueAtIndex(1), 0.5);
    EXPECT_EQ(m->calculateDoubleValueAtIndex(2), 0.0);  // strings have no number
    EXPECT_EQ(m->calculateFloatValueAtIndex(5), -1.0f);
    EXPECT_EQ(m->calculateDoubleValueAtIndex(-1), -1.0);
}

TEST(OSCMessage, CopySharesValuesAndCarriesEveryField) {
    auto original = OSCMessage::createFast("/q", true, OSCMessageTypeQuery,
                                           OSCQueryTypeCurrentValue, 0x0100007F, 0x2EE0);
    original->addString(std::string("jar"));
    original->setTimeTag(12.5);
    original->setMsgInfo(std::make_shared<int>(42));
    const auto duplicate = original->copy();
    EXPECT_EQ(duplicate->description(), "<OSCMsg current val query /q>");
    EXPECT_TRUE(duplicate->wildcardsInAddress());
    EXPECT_EQ(std::pair(duplicate->queryTXAddress(), duplicate->queryTXPort()),
              std::pair(0x0100007Fu, uint16_t{0x2EE0}));
    EXPECT_EQ(duplicate->timeTag(), 12.5);
    EXPECT_EQ(duplicate->msgInfo(), original->msgInfo());
    EXPECT_EQ(duplicate->value(), original->value());
    duplicate->addInt(3);
    EXPECT_EQ(original->valueCount(), 1);
}

TEST(OSCMessage, DescriptionsOfEachKindAndValueCount) {
    auto on = message("/switch");
    EXPECT_EQ(on->description(), "<OSCMessage '/switch'>");
    on->addInt(1);
    EXPECT_EQ(on->description(), "<OSCMessage '/switch', '<OSCVal i 1>'>");
    on->addString(std::string("100%"));
    EXPECT_EQ(on->description(), "<OSCMessage '/switch'-'(<OSCVal i 1>, <OSCVal s 100%>)'>");
    EXPECT_EQ(message("")->description(), "<OSCMessage '(null)'>");
    EXPECT_EQ(fast("/e", OSCMessageTypeError)->description(), "<OSCMsg Err (null)>");
    const std::vector<std::tuple<OSCMessageType, OSCQueryType, std::string>> table = {
        {OSCMessageTypeUnknown, OSCQueryTypeUnknown, "<OSCMsg ? <OSCVal i 7>>"},
        {OSCMessageTypeQuery, OSCQueryTypeUnknown, "<OSCMsg unknown query '/a', '<OSCVal i 7>'>"},
        {OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration,
         "<OSCMsg namespace query '/a', '<OSCVal i 7>'>"},
        {OSCMessageTypeQuery, OSCQueryTypeDocumentation, "<OSCMsg doc query '/a', '<OSCVal i 7>'>"},
        {OSCMessageTypeQuery, OSCQueryTypeTypeSignature, "<OSCMsg type sig query /a>"},
        {OSCMessageTypeQuery, OSCQueryTypeCurrentValue, "<OSCMsg current val query /a>"},
        {OSCMessageTypeQuery, OSCQueryTypeReturnTypeString, "<OSCMsg return type query /a>"},
        {OSCMessageTypeQuery, static_cast<OSCQueryType>(9), "<OSCMsg Reply <OSCVal i 7>>"},
        {OSCMessageTypeReply, OSCQueryTypeUnknown, "<OSCMsg Reply <OSCVal i 7>>"},
        {OSCMessageTypeError, OSCQueryTypeUnknown, "<OSCMsg Err <OSCVal i 7>>"},
        {static_cast<OSCMessageType>(5), OSCQueryTypeUnknown, "<OSCMessage (null)>"},
    };
    for (const auto& [type, query, text] : table) {
        auto m = fast("/a", type, query);
        m->addInt(7);
        EXPECT_EQ(m->description(), text);
    }
}

TEST(OSCQuery, RepliesAndErrorsIdentifyTheirQuestion) {
    EXPECT_EQ(OSCMessage::createQueryType(OSCQueryTypeDocumentation, std::nullopt), nullptr);
    EXPECT_EQ(OSCMessage::createReplyForAddress(std::nullopt), nullptr);
    EXPECT_EQ(OSCMessage::createErrorForAddress(std::nullopt), nullptr);
    EXPECT_EQ(OSCMessage::createReplyForMessage(nullptr), nullptr);
    EXPECT_EQ(OSCMessage::createErrorForMessage(nullptr), nullptr);
    // An empty address has no normal form: a reply without a value, and no complaint.
    LogCapture capture;
    EXPECT_EQ(OSCMessage::createReplyForAddress(std::string())->valueCount(), 0);
    EXPECT_TRUE(capture.lines().empty());

    auto asked = OSCMessage::createFast(std::string("/synth"), false, OSCMessageTypeQuery,
                                        OSCQueryTypeDocumentation, 0x0100007F, 4000);
    const auto reply = OSCMessage::createReplyForMessage(asked);
    EXPECT_EQ(reply->address(), std::nullopt);
    // Where the answers go back to is the manager's test.
    EXPECT_EQ(hexOf(OSCMessage::createErrorForMessage(asked)).substr(0, 35),
              "23 65 72 72 6F 72 00 00 2C 73 00 00");
    // With values the question is identified by its whole encoding, carried as a blob.
    asked->addInt(3);
    const auto withValues = OSCMessage::createReplyForMessage(asked);
    ASSERT_EQ(withValues->valueCount(), 1);
    ASSERT_EQ(withValues->value()->type(), OSCValBlob);
    EXPECT_EQ(*withValues->value()->blobNSData(), *asked->writeToNSData());
}

TEST(OSCQueryReply, NeedsAQueryAndAReceiverAndReachesOnlyALivingOne) {
    struct Recorder : OSCQueryReplyDelegate {
        void oscQueryReplyReceived(const std::shared_ptr<OSCMessage>& r) override {
            replies.push_back(r);
        }
        std::vector<std::shared_ptr<OSCMessage>> replies;
    };
    const auto asked = OSCMessage::createQueryType(OSCQueryTypeDocumentation, "/synth");
    const auto answer = OSCMessage::createReplyForMessage(asked);
    auto delegate = std::make_shared<Recorder>();
    EXPECT_EQ(OSCQueryReply::createWithQuery(nullptr, 1.0, [](const auto&) {}), nullptr);
    EXPECT_EQ(OSCQueryReply::createWithQuery(asked, 1.0, OSCQueryReply::ReplyBlock{}), nullptr);
    EXPECT_EQ(OSCQueryReply::createWithQuery(nullptr, 1.0, delegate), nullptr);
    EXPECT_EQ(OSCQueryReply::createWithQuery(asked, 1.0, std::shared_ptr<OSCQueryReplyDelegate>()),
              nullptr);
    std::vector<std::shared_ptr<OSCMessage>> handled;
    const auto withHandler = OSCQueryReply::createWithQuery(
        asked, 1.0, [&](const std::shared_ptr<OSCMessage>& r) { handled.push_back(r); });
    withHandler->dispatchReply(nullptr);
    withHandler->dispatchReply(answer);
    EXPECT_EQ(handled, std::vector<std::shared_ptr<OSCMessage>>{answer});

    const auto withDelegate = OSCQueryReply::createWithQuery(asked, 1.0, delegate);
    withDelegate->dispatchReply(answer);
    withDelegate->dispatchReply(nullptr);
    EXPECT_EQ(delegate->replies, std::vector<std::shared_ptr<OSCMessage>>{answer});
    delegate.reset();
    LogCapture capture;
    withDelegate->dispatchReply(answer);
    EXPECT_TRUE(capture.lines().empty());
}

TEST(OSCQueryReply, TimesOutAfterItsDeadlineOrAnUnreadableDate) {
    const auto asked = OSCMessage::createQueryType(OSCQueryTypeCurrentValue, "/level");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Date before = dateNow();
    const auto pending = OSCQueryReply::createWithQuery(asked, 5.0, [](const auto&) {});
    const Date deadline = pending->timeoutDate();
    EXPECT_GE(deadline, before + 5.0);
    EXPECT_LE(deadline, dateNow() + 5.0);
    EXPECT_FALSE(pending->_timeoutCheckAgainstDate(deadline));
    EXPECT_TRUE(pending->_timeoutCheckAgainstDate(deadline + 1.0));
    EXPECT_TRUE(pending->_timeoutCheckAgainstDate(std::nullopt));
    EXPECT_TRUE(pending->_timeoutCheckAgainstDate(nan));
    EXPECT_TRUE(OSCQueryReply::createWithQuery(asked, nan, [](const auto&) {
                })->_timeoutCheckAgainstDate(before));
}

// Values at the edges of their encodings (NaNs with payloads, extreme integers and time tags,
// strings and blobs of every length modulo 4, colours in whole 255ths, nested and empty arrays),
// in a message that has an address, a query and a reply that have none.
TEST(OSCRoundTrip, EdgeValuesDecodeEqualAndReencodeIdentically) {
    std::vector<std::shared_ptr<OSCValue>> values = {
        V::createWithInt(INT32_MIN),
        V::createWithFloat(std::bit_cast<float>(0x7FA00001u)),
        V::createWithString("é€\U0001F3FA\U0010FFFF"),
        V::createWithLongLong(INT64_MIN),
        V::createWithTimeSeconds(0xFFFFFFFFll, 999999),
        V::createWithChar(-128),
        V::createWithDouble(std::bit_cast<double>(~0ull >> 1)),
        V::createWithSMPTEChunk(-1),
        V::createWithColor(OSCColor{0, 1 / 255.0, 128 / 255.0, 1}),
        V::createWithNil(),
        V::createWithMIDIChannel(0xFF, 0x90, 60, 127),
        V::createWithBool(true)};
    for (size_t length = 0; length <= 4; ++length) {
        values.push_back(V::createWithString(std::string(length, 'x')));
        values.push_back(V::createWithNSDataBlob(std::make_shared<OSCData>(length, 0xA5)));
    }
    auto inner = V::createArray();
    inner->addValue(V::createArray());
    inner->addValue(values[2]);
    auto outer = V::createArray();
    for (const auto& value : {values[11], inner, V::createArray(), values[5]})
        outer->addValue(value);
    values.push_back(outer);
    const std::vector<std::shared_ptr<OSCMessage>> messages = {
        OSCMessage::createFast("/a*/é", true, OSCMessageTypeControl, OSCQueryTypeUnknown, 0, 0),
        fast("/a", OSCMessageTypeQuery, OSCQueryTypeDocumentation),
        fast(std::nullopt, OSCMessageTypeReply), message("/empty")};
    LogCapture capture;
    for (const auto& sent : messages) {
        if (sent != messages.back())
            for (const auto& value : values) sent->addValue(value);
        const auto bytes = sent->writeToNSData();
        const auto received = OSCMessage::parseRawBuffer(
            bytes->data(), static_cast<int32_t>(bytes->size()), 0x0100007F, 9000);
        ASSERT_NE(received, nullptr) << sent->description();
        SCOPED_TRACE(sent->description() + " -> " + received->description());
        EXPECT_EQ(received->description(), sent->description());
        ASSERT_EQ(received->valueCount(), sent->valueCount());
        for (int32_t i = 0; i < sent->valueCount(); ++i)
            EXPECT_TRUE(received->valueAtIndex(i)->isEqual(*sent->valueAtIndex(i))) << i;
        EXPECT_EQ(*received->writeToNSData(), *bytes);
    }
    EXPECT_TRUE(capture.lines().empty());
}
