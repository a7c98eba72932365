#include <gtest/gtest.h>

#include "basics/Log.h"
#include "osc/OSCMessage.h"
#include "osc/OSCPacket.h"
#include "support/UdpListener.h"

using namespace vitrine;
using test::Bytes;

namespace {

Bytes encode(const std::shared_ptr<OSCMessage>& message) {
    const auto packet = OSCPacket::createWithContent(message);
    EXPECT_NE(packet, nullptr);
    if (!packet) return {};
    EXPECT_EQ(packet->bufferLength(), message->bufferLength());
    return test::bytes(packet->payload(), static_cast<size_t>(packet->bufferLength()));
}

std::shared_ptr<OSCMessage> message(const std::string& address) {
    return OSCMessage::createWithAddress(address);
}

}  // namespace

TEST(OSCMessageEncoding, ShowcaseMessagesHaveTheirExactBytes) {
    auto on = message("/switch");
    on->addInt(1);
    // "/switch" NUL, ",i" NUL NUL, then the integer.
    EXPECT_EQ(test::hex(encode(on)), "2F 73 77 69 74 63 68 00 2C 69 00 00 00 00 00 01");
    auto off = message("/switch");
    off->addInt(0);
    EXPECT_EQ(test::hex(encode(off)), "2F 73 77 69 74 63 68 00 2C 69 00 00 00 00 00 00");
    // A message without values still carries "," and three NULs.
    EXPECT_EQ(test::hex(encode(message("/is"))), "2F 69 73 00 2C 00 00 00");
}

TEST(OSCMessageEncoding, TwelveIntegerSceneIs72Bytes) {
    auto scene = message("/list");
    for (int32_t i = 0; i < 12; ++i) scene->addInt(i == 3 ? 255 : 26);
    const Bytes bytes = encode(scene);
    ASSERT_EQ(bytes.size(), 72u);
    Bytes expected = test::bytesFromHex("2F 6C 69 73 74 00 00 00");  // "/list" padded to 8
    const Bytes tags = test::bytesFromHex("2C 69 69 69 69 69 69 69 69 69 69 69 69 00 00 00");
    expected.insert(expected.end(), tags.begin(), tags.end());
    for (int32_t i = 0; i < 12; ++i) {
        const Bytes level = test::bytesFromHex(i == 3 ? "00 00 00 FF" : "00 00 00 1A");
        expected.insert(expected.end(), level.begin(), level.end());
    }
    EXPECT_EQ(test::hex(bytes), test::hex(expected));
}

TEST(OSCMessageEncoding, AddressAndTypeTagPadding) {
    // 3-, 4- and 7-byte addresses take 4, 8 and 8 bytes before the type tags.
    EXPECT_EQ(test::hex(encode(message("/ab"))), "2F 61 62 00 2C 00 00 00");
    EXPECT_EQ(test::hex(encode(message("/abc"))), "2F 61 62 63 00 00 00 00 2C 00 00 00");
    EXPECT_EQ(test::hex(encode(message("/abcdef"))), "2F 61 62 63 64 65 66 00 2C 00 00 00");
    // Three values: ",iif" plus NUL padding takes 8 bytes.
    auto three = message("/a");
    three->addInt(-1);
    three->addInt(2);
    three->addFloat(1.0f);
    EXPECT_EQ(test::hex(encode(three)),
              "2F 61 00 00 2C 69 69 66 00 00 00 00 FF FF FF FF 00 00 00 02 3F 80 00 00");
    // Strings between other arguments keep the data aligned.
    auto mixed = message("/m");
    mixed->addString(std::string());
    mixed->addString(std::string("abcd"));
    mixed->addInt(7);
    EXPECT_EQ(
        test::hex(encode(mixed)),
        "2F 6D 00 00 2C 73 73 69 00 00 00 00 00 00 00 00 61 62 63 64 00 00 00 00 00 00 00 07");
}

TEST(OSCMessageEncoding, EmptyAddressEncodesAsFourNuls) {
    auto anonymous = message("");
    ASSERT_NE(anonymous, nullptr);
    EXPECT_EQ(anonymous->address(), std::nullopt);
    EXPECT_EQ(test::hex(encode(anonymous)), "00 00 00 00 2C 00 00 00");
}

TEST(OSCMessageEncoding, QueriesRepliesAndErrorsWriteTheirOwnAddress) {
    struct Case {
        std::string address;
        OSCMessageType type;
        OSCQueryType query;
        std::optional<std::string> written;
    };
    const std::vector<Case> table = {
        {"/a", OSCMessageTypeControl, OSCQueryTypeDocumentation, "/a"},
        {"/a", OSCMessageTypeUnknown, OSCQueryTypeUnknown, "/a"},
        {"/a", OSCMessageTypeQuery, OSCQueryTypeUnknown, "/a"},
        {"/a", OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration, "/a/"},
        {"/", OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration, "/"},
        {"/a", OSCMessageTypeQuery, OSCQueryTypeDocumentation, "/a/#documentation"},
        {"/", OSCMessageTypeQuery, OSCQueryTypeDocumentation, "/#documentation"},
        {"/a", OSCMessageTypeQuery, OSCQueryTypeTypeSignature, "/a/#type-signature"},
        {"/", OSCMessageTypeQuery, OSCQueryTypeCurrentValue, "/#current-value"},
        {"/a", OSCMessageTypeQuery, OSCQueryTypeReturnTypeString, "/a/#return-type-string"},
        {"/a", OSCMessageTypeReply, OSCQueryTypeDocumentation, "#reply"},
        {"/a", OSCMessageTypeError, OSCQueryTypeUnknown, "#error"},
    };
    for (const auto& row : table) {
        auto m = OSCMessage::createFast(row.address, false, row.type, row.query, 0, 0);
        EXPECT_EQ(m->replyAddress(), row.written)
            << row.address << ' ' << row.type << ' ' << row.query;
    }
    // The suffix goes on the wire too, padded like any address.
    auto doc =
        OSCMessage::createFast("/a", false, OSCMessageTypeQuery, OSCQueryTypeDocumentation, 0, 0);
    const Bytes bytes = encode(doc);
    ASSERT_EQ(bytes.size(), 24u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 17), "/a/#documentation");
    EXPECT_EQ(test::hex(Bytes(bytes.begin() + 17, bytes.end())), "00 00 00 2C 00 00 00");
    // A reply needs no address of its own.
    auto reply =
        OSCMessage::createFast(std::nullopt, false, OSCMessageTypeReply, OSCQueryTypeUnknown, 0, 0);
    EXPECT_EQ(test::hex(encode(reply)), "23 72 65 70 6C 79 00 00 2C 00 00 00");
    auto query = OSCMessage::createFast(std::nullopt, false, OSCMessageTypeQuery,
                                        OSCQueryTypeDocumentation, 0, 0);
    EXPECT_EQ(query->replyAddress(), std::nullopt);
    EXPECT_EQ(test::hex(encode(query)), "00 00 00 00 2C 00 00 00");
}

TEST(OSCMessageEncoding, WriteToNSDataMatchesThePacket) {
    auto m = message("/list2");
    m->addInt(255);
    m->addString(std::string("x"));
    const auto data = m->writeToNSData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(*data, encode(m));
    m->writeToBuffer(nullptr);  // ignored
}

TEST(OSCPacket, AbsentOrEmptyContentBails) {
    struct Nothing : OSCPacketContent {
        int64_t bufferLength() const override { return 0; }
        void writeToBuffer(uint8_t*) const override { ADD_FAILURE() << "nothing to write"; }
    };
    LogCapture capture;
    EXPECT_EQ(OSCPacket::createWithContent(nullptr), nullptr);
    EXPECT_EQ(OSCPacket::createWithContent(std::make_shared<Nothing>()), nullptr);
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>(2, "\t\terr: -[OSCPacket initWithContent:] - BAIL"));
}

TEST(OSCMessage, CreationNormalisesTheAddressAndNotesWildcards) {
    LogCapture capture;
    EXPECT_EQ(OSCMessage::createWithAddress(std::nullopt), nullptr);
    EXPECT_TRUE(capture.lines().empty());

    auto m = message("scene/");
    EXPECT_EQ(m->address(), "/scene");
    EXPECT_FALSE(m->wildcardsInAddress());
    EXPECT_EQ(m->messageType(), OSCMessageTypeControl);
    EXPECT_EQ(m->queryType(), OSCQueryTypeUnknown);
    EXPECT_EQ(m->queryTXAddress(), 0u);
    EXPECT_EQ(m->queryTXPort(), 0u);
    EXPECT_EQ(m->timeTag(), std::nullopt);
    EXPECT_EQ(m->msgInfo(), nullptr);
    EXPECT_TRUE(message("/jar/*")->wildcardsInAddress());
    EXPECT_FALSE(message("/jar/{a,b}")->wildcardsInAddress());
}

TEST(OSCMessage, SecondValueMovesTheFirstIntoTheArray) {
    auto m = message("/v");
    EXPECT_EQ(m->value(), nullptr);
    EXPECT_EQ(m->valueAtIndex(0), nullptr);
    const auto first = OSCValue::createWithInt(1);
    m->addValue(first);
    m->addValue(nullptr);
    EXPECT_EQ(m->valueCount(), 1);
    EXPECT_EQ(m->value(), first);
    EXPECT_EQ(m->valueAtIndex(0), first);
    EXPECT_EQ(m->valueAtIndex(1), nullptr);
    EXPECT_FALSE(m->valueArray().has_value());

    {
        LogCapture capture;
        m->addString(std::nullopt);  // logs its BAIL line, appends nothing
        EXPECT_EQ(capture.lines(),
                  std::vector<std::string>{"\t\terr: -[OSCValue initWithString:] - BAIL"});
    }
    EXPECT_EQ(m->valueCount(), 1);

    m->addFloat(2.0f);
    EXPECT_EQ(m->valueCount(), 2);
    EXPECT_EQ(m->value(), first);
    ASSERT_TRUE(m->valueArray().has_value());
    EXPECT_EQ(m->valueArray()->size(), 2u);
    EXPECT_EQ(m->valueAtIndex(1)->floatValue(), 2.0f);
    EXPECT_EQ(m->valueAtIndex(2), nullptr);
    EXPECT_EQ(m->valueAtIndex(-1), nullptr);
}

TEST(OSCMessage, CalculatedValuesDistinguishMissingFromZero) {
    auto none = message("/n");
    EXPECT_EQ(none->calculateFloatValue(), 0.0f);
    auto one = message("/o");
    one->addInt(5);
    EXPECT_EQ(one->calculateFloatValueAtIndex(0), 5.0f);
    EXPECT_EQ(one->calculateFloatValueAtIndex(5), 0.0f);
    EXPECT_EQ(one->calculateDoubleValueAtIndex(-1), 0.0);
    auto three = message("/t");
    three->addInt(1);
    three->addFloat(0.5f);
    three->addString(std::string("9"));
    EXPECT_EQ(three->calculateFloatValue(), 1.0f);
    EXPECT_EQ(three->calculateDoubleValueAtIndex(1), 0.5);
    EXPECT_EQ(three->calculateDoubleValueAtIndex(2), 0.0);
    EXPECT_EQ(three->calculateFloatValueAtIndex(5), -1.0f);
    EXPECT_EQ(three->calculateDoubleValueAtIndex(3), -1.0);
    EXPECT_EQ(three->calculateDoubleValueAtIndex(-1), -1.0);
}

TEST(OSCMessage, CopySharesValuesAndCarriesEveryField) {
    auto original = OSCMessage::createFast("/q", true, OSCMessageTypeQuery,
                                           OSCQueryTypeCurrentValue, 0x0100007F, 0x2EE0);
    original->addInt(1);
    original->addInt(2);
    original->setTimeTag(12.5);
    original->setMsgInfo(std::make_shared<int>(42));
    const auto duplicate = original->copy();
    ASSERT_NE(duplicate, original);
    EXPECT_EQ(duplicate->address(), "/q");
    EXPECT_TRUE(duplicate->wildcardsInAddress());
    EXPECT_EQ(duplicate->messageType(), OSCMessageTypeQuery);
    EXPECT_EQ(duplicate->queryType(), OSCQueryTypeCurrentValue);
    EXPECT_EQ(duplicate->queryTXAddress(), 0x0100007Fu);
    EXPECT_EQ(duplicate->queryTXPort(), 0x2EE0u);
    EXPECT_EQ(duplicate->valueCount(), 2);
    EXPECT_EQ(duplicate->valueAtIndex(0), original->valueAtIndex(0));
    EXPECT_EQ(duplicate->valueAtIndex(1), original->valueAtIndex(1));
    EXPECT_EQ(duplicate->timeTag(), 12.5);
    EXPECT_EQ(duplicate->msgInfo(), original->msgInfo());
    // Appending to the copy leaves the original alone.
    duplicate->addInt(3);
    EXPECT_EQ(original->valueCount(), 2);
    original->setTimeTag(std::nullopt);
    EXPECT_EQ(original->timeTag(), std::nullopt);
}

TEST(OSCMessage, Descriptions) {
    auto on = message("/switch");
    EXPECT_EQ(on->description(), "<OSCMessage '/switch'>");
    on->addInt(1);
    EXPECT_EQ(on->description(), "<OSCMessage '/switch', '<OSCVal i 1>'>");
    on->addString(std::string("x"));
    EXPECT_EQ(on->description(), "<OSCMessage '/switch'-'(<OSCVal i 1>, <OSCVal s x>)'>");
    EXPECT_EQ(message("")->description(), "<OSCMessage '(null)'>");

    auto make = [](OSCMessageType type, OSCQueryType query) {
        auto m = OSCMessage::createFast("/a", false, type, query, 0, 0);
        m->addInt(7);
        return m->description();
    };
    EXPECT_EQ(make(OSCMessageTypeUnknown, OSCQueryTypeUnknown), "<OSCMsg ? <OSCVal i 7>>");
    EXPECT_EQ(make(OSCMessageTypeQuery, OSCQueryTypeUnknown),
              "<OSCMsg unknown query '/a', '<OSCVal i 7>'>");
    EXPECT_EQ(make(OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration),
              "<OSCMsg namespace query '/a', '<OSCVal i 7>'>");
    EXPECT_EQ(make(OSCMessageTypeQuery, OSCQueryTypeDocumentation),
              "<OSCMsg doc query '/a', '<OSCVal i 7>'>");
    EXPECT_EQ(make(OSCMessageTypeQuery, OSCQueryTypeTypeSignature), "<OSCMsg type sig query /a>");
    EXPECT_EQ(make(OSCMessageTypeQuery, OSCQueryTypeCurrentValue), "<OSCMsg current val query /a>");
    EXPECT_EQ(make(OSCMessageTypeQuery, OSCQueryTypeReturnTypeString),
              "<OSCMsg return type query /a>");
    EXPECT_EQ(make(OSCMessageTypeQuery, static_cast<OSCQueryType>(9)),
              "<OSCMsg Reply <OSCVal i 7>>");
    EXPECT_EQ(make(OSCMessageTypeReply, OSCQueryTypeUnknown), "<OSCMsg Reply <OSCVal i 7>>");
    EXPECT_EQ(make(OSCMessageTypeError, OSCQueryTypeUnknown), "<OSCMsg Err <OSCVal i 7>>");
    EXPECT_EQ(make(static_cast<OSCMessageType>(5), OSCQueryTypeUnknown), "<OSCMessage (null)>");
    EXPECT_EQ(OSCMessage::createFast("/e", false, OSCMessageTypeError, OSCQueryTypeUnknown, 0, 0)
                  ->description(),
              "<OSCMsg Err (null)>");
}
