#include <gtest/gtest.h>

#include <functional>

#include "basics/Log.h"
#include "osc/OSCMessage.h"
#include "osc/OSCPacket.h"
#include "support/OscWire.h"

using namespace vitrine;
using test::Bytes;

namespace {

std::string hexOf(const std::shared_ptr<OSCMessage>& message) {
    const Bytes bytes = test::encoded(message);
    EXPECT_EQ(static_cast<int64_t>(bytes.size()), message->bufferLength());
    EXPECT_EQ(*message->writeToNSData(), bytes);
    return test::hex(bytes);
}

std::shared_ptr<OSCMessage> message(const std::string& address,
                                    const std::function<void(OSCMessage&)>& fill = {}) {
    auto made = OSCMessage::createWithAddress(address);
    if (fill) fill(*made);
    return made;
}

}  // namespace

TEST(OSCMessageEncoding, ShowcaseMessagesHaveTheirExactBytes) {
    // "/switch" NUL, ",i" NUL NUL, then the integer; without values "," and three NULs remain.
    EXPECT_EQ(hexOf(test::numbered("/switch", 1)),
              "2F 73 77 69 74 63 68 00 2C 69 00 00 00 00 00 01");
    EXPECT_EQ(hexOf(test::numbered("/switch", 0)),
              "2F 73 77 69 74 63 68 00 2C 69 00 00 00 00 00 00");
    EXPECT_EQ(hexOf(message("/is")), "2F 69 73 00 2C 00 00 00");

    auto scene = message("/list", [](OSCMessage& m) {
        for (int32_t i = 0; i < 12; ++i) m.addInt(i == 3 ? 255 : 26);
    });
    std::string expected = "2F 6C 69 73 74 00 00 00 2C";  // "/list" padded to 8, ","
    for (int i = 0; i < 12; ++i) expected += " 69";
    expected += " 00 00 00";
    for (int i = 0; i < 12; ++i) expected += i == 3 ? " 00 00 00 FF" : " 00 00 00 1A";
    EXPECT_EQ(test::encoded(scene).size(), 72u);
    EXPECT_EQ(hexOf(scene), expected);
}

TEST(OSCMessageEncoding, AddressesStringsAndTagsArePaddedAndNumbersBigEndian) {
    EXPECT_EQ(hexOf(message("")), "00 00 00 00 2C 00 00 00");
    EXPECT_EQ(hexOf(message("/ab")), "2F 61 62 00 2C 00 00 00");
    EXPECT_EQ(hexOf(message("/abc")), "2F 61 62 63 00 00 00 00 2C 00 00 00");
    EXPECT_EQ(hexOf(message("/a",
                            [](OSCMessage& m) {
                                m.addInt(-1);
                                m.addInt(INT32_MIN);
                                m.addFloat(-2.5f);
                            })),
              "2F 61 00 00 2C 69 69 66 00 00 00 00 FF FF FF FF 80 00 00 00 C0 20 00 00");
    EXPECT_EQ(
        hexOf(message("/m",
                      [](OSCMessage& m) {
                          m.addString(std::string());
                          m.addString(std::string("abcd"));
                          m.addInt(7);
                      })),
        "2F 6D 00 00 2C 73 73 69 00 00 00 00 00 00 00 00 61 62 63 64 00 00 00 00 00 00 00 07");
    for (const auto& [text, length] : std::vector<std::pair<std::string, int64_t>>{
             {"abc", 4}, {"abcdefg", 8}, {"abcdefgh", 12}, {"é", 4}})
        EXPECT_EQ(OSCValue::createWithString(text)->bufferLength(), length) << text;
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
    EXPECT_EQ(message("")->address(), std::nullopt);
    EXPECT_TRUE(capture.lines().empty());
    const auto m = message("scene/");
    EXPECT_EQ(m->address(), "/scene");
    EXPECT_FALSE(m->wildcardsInAddress());
    EXPECT_EQ(m->messageType(), OSCMessageTypeControl);
    EXPECT_TRUE(message("/jar/*")->wildcardsInAddress());
    EXPECT_FALSE(message("/jar/{a,b}")->wildcardsInAddress());
}

TEST(OSCMessage, ValuesByIndexAndCalculatedValuesDistinguishMissingFromZero) {
    auto m = message("/v");
    EXPECT_EQ(m->valueAtIndex(0), nullptr);
    EXPECT_EQ(m->calculateFloatValue(), 0.0f);
    const auto first = OSCValue::createWithInt(5);
    m->addValue(first);
    m->addValue(nullptr);
    EXPECT_EQ(m->valueCount(), 1);
    EXPECT_EQ(m->valueAtIndex(0), first);
    EXPECT_EQ(m->valueAtIndex(1), nullptr);
    EXPECT_FALSE(m->valueArray().has_value());
    // With one value, every other index reads 0; with several, a missing index reads -1.
    EXPECT_EQ(m->calculateFloatValueAtIndex(5), 0.0f);
    EXPECT_EQ(m->calculateDoubleValueAtIndex(-1), 0.0);
    {
        LogCapture capture;
        m->addString(std::nullopt);  // logs its BAIL line, appends nothing
        EXPECT_EQ(capture.lines(),
                  std::vector<std::string>{"\t\terr: -[OSCValue initWithString:] - BAIL"});
    }
    m->addFloat(0.5f);
    m->addString(std::string("9"));
    ASSERT_EQ(m->valueArray()->size(), 3u);
    EXPECT_EQ(m->value(), first);
    EXPECT_EQ(m->valueAtIndex(3), nullptr);
    EXPECT_EQ(m->valueAtIndex(-1), nullptr);
    EXPECT_EQ(m->calculateFloatValue(), 5.0f);
    EXPECT_EQ(m->calculateDoubleValueAtIndex(1), 0.5);
    EXPECT_EQ(m->calculateDoubleValueAtIndex(2), 0.0);  // strings have no number
    EXPECT_EQ(m->calculateFloatValueAtIndex(5), -1.0f);
    EXPECT_EQ(m->calculateDoubleValueAtIndex(-1), -1.0);
}

TEST(OSCMessage, CopySharesValuesAndCarriesEveryField) {
    auto original = OSCMessage::createFast("/q", true, OSCMessageTypeQuery,
                                           OSCQueryTypeCurrentValue, 0x0100007F, 0x2EE0);
    original->addString(std::string("jar"));
    original->addInt(2);
    original->setTimeTag(12.5);
    original->setMsgInfo(std::make_shared<int>(42));
    const auto duplicate = original->copy();
    ASSERT_NE(duplicate, original);
    EXPECT_EQ(duplicate->description(), original->description());
    EXPECT_TRUE(duplicate->wildcardsInAddress());
    EXPECT_EQ(duplicate->queryTXAddress(), 0x0100007Fu);
    EXPECT_EQ(duplicate->queryTXPort(), 0x2EE0u);
    EXPECT_EQ(duplicate->valueAtIndex(1), original->valueAtIndex(1));
    EXPECT_EQ(duplicate->timeTag(), 12.5);
    EXPECT_EQ(duplicate->msgInfo(), original->msgInfo());
    // A copied string value shares its text.
    const auto text = original->valueAtIndex(0);
    EXPECT_EQ(&text->copy()->stringValue(), &text->stringValue());
    duplicate->addInt(3);
    EXPECT_EQ(original->valueCount(), 2);
}

TEST(OSCMessage, Descriptions) {
    auto on = message("/switch");
    EXPECT_EQ(on->description(), "<OSCMessage '/switch'>");
    on->addInt(1);
    EXPECT_EQ(on->description(), "<OSCMessage '/switch', '<OSCVal i 1>'>");
    on->addString(std::string("100%"));
    EXPECT_EQ(on->description(), "<OSCMessage '/switch'-'(<OSCVal i 1>, <OSCVal s 100%>)'>");
    EXPECT_EQ(message("")->description(), "<OSCMessage '(null)'>");
    EXPECT_EQ(OSCValue::createWithFloat(0.5f)->description(), "<OSCVal f 0.500000>");
    EXPECT_EQ(OSCValue::createWithInt(-3)->lengthyDescription(), "integer -3");
    EXPECT_EQ(OSCValue::createWithFloat(2.0f)->lengthyDescription(), "float 2.000000");
    EXPECT_EQ(OSCValue::createWithString(std::string("a b"))->lengthyDescription(),
              "string \"a b\"");
    EXPECT_EQ(OSCValue::descriptionOfValues({OSCValue::createWithInt(1), nullptr}),
              "(<OSCVal i 1>, (null))");

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
        auto m = OSCMessage::createFast("/a", false, type, query, 0, 0);
        m->addInt(7);
        EXPECT_EQ(m->description(), text);
    }
    EXPECT_EQ(OSCMessage::createFast("/e", false, OSCMessageTypeError, OSCQueryTypeUnknown, 0, 0)
                  ->description(),
              "<OSCMsg Err (null)>");
}
