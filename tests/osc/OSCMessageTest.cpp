#include <gtest/gtest.h>

#include "basics/Log.h"
#include "osc/OSCMessage.h"
#include "osc/OSCPacket.h"
#include "support/OscWire.h"

using namespace vitrine;
using test::Bytes;

namespace {

std::shared_ptr<OSCMessage> message(const std::string& address,
                                    std::initializer_list<std::shared_ptr<OSCValue>> values = {}) {
    auto made = OSCMessage::createWithAddress(address);
    for (const auto& value : values) made->addValue(value);
    return made;
}

}  // namespace

TEST(OSCMessageEncoding, AddressesTagsAndDataArePaddedAndNumbersBigEndian) {
    // A showcase scene: "/list" padded to 8, ",", twelve "i" and padding, twelve integers.
    const auto scene = message("/list");
    std::string sceneHex = "2F 6C 69 73 74 00 00 00 2C";
    for (int i = 0; i < 12; ++i) sceneHex += " 69";
    sceneHex += " 00 00 00";
    for (int i = 0; i < 12; ++i) {
        scene->addInt(i == 3 ? 255 : 26);
        sceneHex += i == 3 ? " 00 00 00 FF" : " 00 00 00 1A";
    }
    const auto extended = message("/x");
    extended->addDouble(0.5);
    extended->addColor(OSCColor{0.0, 1.0, 0.0, 1.0});
    extended->addBOOL(false);
    extended->addNSDataBlob(std::make_shared<const OSCData>(OSCData{0xAB}));
    extended->addValue(OSCValue::createWithSMPTEVals(OSCSMPTEFPS25, 0, 1, 2, 3, 4));
    const auto text = [](const char* s) { return OSCValue::createWithString(std::string(s)); };
    const std::vector<std::pair<std::shared_ptr<OSCMessage>, std::string>> table = {
        {test::numbered("/switch", 1), "2F 73 77 69 74 63 68 00 2C 69 00 00 00 00 00 01"},
        // Without values "," and three NULs remain.
        {message("/is"), "2F 69 73 00 2C 00 00 00"},
        {message(""), "00 00 00 00 2C 00 00 00"},
        {message("/abc"), "2F 61 62 63 00 00 00 00 2C 00 00 00"},
        {scene, sceneHex},
        {message("/a", {OSCValue::createWithInt(-1), OSCValue::createWithInt(INT32_MIN),
                        OSCValue::createWithFloat(-2.5f)}),
         "2F 61 00 00 2C 69 69 66 00 00 00 00 FF FF FF FF 80 00 00 00 C0 20 00 00"},
        {message("/m", {text(""), text("abcd"), OSCValue::createWithInt(7)}),
         "2F 6D 00 00 2C 73 73 69 00 00 00 00 00 00 00 00 61 62 63 64 00 00 00 00 00 00 00 07"},
        // ",drFbE": double, colour, no data for F, blob (count, byte, padding), SMPTE word.
        {extended,
         "2F 78 00 00 2C 64 72 46 62 45 00 00 3F E0 00 00 00 00 00 00 00 FF 00 FF 00 00 00 01 AB "
         "00 00 00 20 10 83 04"},
    };
    for (const auto& [m, hex] : table) {
        const Bytes bytes = test::encoded(m);
        EXPECT_EQ(static_cast<int64_t>(bytes.size()), m->bufferLength()) << hex;
        EXPECT_EQ(*m->writeToNSData(), bytes) << hex;
        EXPECT_EQ(test::hex(bytes), hex);
    }
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
    EXPECT_EQ(message("scene/")->address(), "/scene");
    EXPECT_FALSE(message("scene/")->wildcardsInAddress());
    EXPECT_TRUE(message("/jar/*")->wildcardsInAddress());
}

TEST(OSCMessage, ValuesByIndexAndCalculatedValuesDistinguishMissingFromZero) {
    auto m = message("/v");
    EXPECT_EQ(m->valueAtIndex(0), nullptr);
    EXPECT_EQ(m->calculateFloatValue(), 0.0f);
    const auto first = OSCValue::createWithInt(5);
    m->addValue(first);
    m->addValue(nullptr);
    EXPECT_EQ(m->valueCount(), 1);
    EXPECT_FALSE(m->valueArray().has_value());
    // With one value, every other index reads 0; with several, a missing index reads -1.
    EXPECT_EQ(m->calculateFloatValueAtIndex(5), 0.0f);
    EXPECT_EQ(m->calculateDoubleValueAtIndex(-1), 0.0);
    LogCapture capture;
    m->addString(std::nullopt);  // logs its BAIL line, appends nothing
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"\t\terr: -[OSCValue initWithString:] - BAIL"});
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
    original->setTimeTag(12.5);
    original->setMsgInfo(std::make_shared<int>(42));
    const auto duplicate = original->copy();
    ASSERT_NE(duplicate, original);
    EXPECT_EQ(duplicate->description(), original->description());
    EXPECT_TRUE(duplicate->wildcardsInAddress());
    EXPECT_EQ(duplicate->queryTXAddress(), 0x0100007Fu);
    EXPECT_EQ(duplicate->queryTXPort(), 0x2EE0u);
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
