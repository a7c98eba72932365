#include <gtest/gtest.h>

#include <limits>

#include "basics/Log.h"
#include "osc/OSCMessage.h"
#include "support/OscWire.h"

using namespace vitrine;
using test::Bytes;
using V = OSCValue;
using Value = std::shared_ptr<OSCValue>;

namespace {

// Tags and data of one value encoded on its own: "tags | data", the data in hex.
std::string encoded(const Value& value) {
    const auto tags = static_cast<size_t>(value->typeSignatureLength());
    const size_t tagRoom = (tags + 3) & ~size_t{3};
    Bytes buffer(tagRoom + static_cast<size_t>(value->bufferLength()), 0);
    int32_t typeOffset = 0;
    auto dataOffset = static_cast<int32_t>(tagRoom);
    value->writeToBuffer(buffer.data(), &typeOffset, &dataOffset);
    EXPECT_EQ(typeOffset, static_cast<int32_t>(tags));
    EXPECT_EQ(static_cast<size_t>(dataOffset), buffer.size());
    return std::string(buffer.begin(), buffer.begin() + static_cast<long>(tags)) + " | " +
           test::hex(Bytes(buffer.begin() + static_cast<long>(tagRoom), buffer.end()));
}

Value blob(std::initializer_list<uint8_t> bytes) {
    return V::createWithNSDataBlob(std::make_shared<const OSCData>(bytes));
}

Value arrayOf(std::initializer_list<Value> elements) {
    auto array = V::createArray();
    for (const auto& element : elements) array->addValue(element);
    return array;
}

Value smpte(int32_t fps, int32_t days, int32_t h, int32_t m, int32_t s, int32_t frames) {
    return V::createWithSMPTEVals(fps, days, h, m, s, frames);
}

Value midi(uint8_t status, uint8_t data1, uint8_t data2) {
    return V::createWithMIDIChannel(0, status, data1, data2);
}

}  // namespace

TEST(OSCValueEncoding, EveryTypeHasItsTagBigEndianDataAndNumericView) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        Value value;
        std::string wire;
        std::optional<double> number;
    };
    const std::vector<Row> table = {
        {V::createWithInt(16777217), "i | 01 00 00 01", 16777217.0},
        {V::createWithFloat(0.1f), "f | 3D CC CC CD", static_cast<double>(0.1f)},
        {V::createWithTimeSeconds(3, 500000), "t | 00 00 00 03 00 07 A1 20", 3.5},
        {V::createWithTimeSeconds(0xFFFFFFFFll, 999999), "t | FF FF FF FF 00 0F 42 3F", {}},
        // Microseconds beyond 32 bits are cut rather than spilling into the seconds.
        {V::createWithTimeSeconds(1, (int64_t{1} << 32) + 2), "t | 00 00 00 01 00 00 00 02", {}},
        // Dates round to the nearest microsecond (0.3 s is 299999.99999 µs as a double), and a
        // fraction rounding up to a whole second carries (the bundle's time tag has its own code).
        {V::createWithDate(700000000.3), "t | 29 B9 27 00 00 04 93 E0", {}},
        {V::createWithDate(5.9999999), "t | 00 00 00 06 00 00 00 00", {}},
        {V::createWithLongLong(-(int64_t{1} << 40)), "h | FF FF FF 00 00 00 00 00",
         -1099511627776.0},
        {V::createWithDouble(-0.0), "d | 80 00 00 00 00 00 00 00", 0.0},
        // A character travels as a 32-bit integer, sign included.
        {V::createWithChar(-3), "c | FF FF FF FD", -3.0},
        // MIDI: the whole status byte, channel nibble included, decides the number.
        {V::createWithMIDIChannel(1, 0x90, 127, 0), "m | 01 90 7F 00", 0.0},
        {midi(0xC0, 127, 5), "m | 00 C0 7F 05", 1.0},
        {midi(0xE0, 0x7F, 0x7F), "m | 00 E0 7F 7F", 1.0},
        {midi(0xF2, 0x00, 0x40), "m | 00 F2 00 40", 8192 / 16383.0},
        {midi(0x91, 99, 99), "m | 00 91 63 63", 0.0},
        {smpte(OSCSMPTEFPS24, 1, 0, 0, 2, 12), "E | 12 00 02 0C", 86402.5},
        // Without a known rate the frames count for nothing.
        {smpte(OSCSMPTEFPSUnknown, 1, 0, 0, 2, 12), "E | 02 00 02 0C", 86402.0},
        // Colour components are truncated; out-of-range ones and NaN clamp instead of wrapping.
        {V::createWithColor(OSCColor{1.0, 0.5, 0.0, 1.0}), "r | FF 7F 00 FF", 0.5},
        {V::createWithColor(OSCColor{2.0, -1.0, nan, 0.999}), "r | FF 00 00 FE", {}},
        {V::createWithBool(true), "T | ", 1.0},
        {V::createWithBool(false), "F | ", 0.0},
        {V::createWithNil(), "N | ", 0.0},
        {V::createWithInfinity(), "I | ", 1.0},
        {blob({}), "b | 00 00 00 00", 1.0},
        {blob({1, 2, 3, 4, 5}), "b | 00 00 00 05 01 02 03 04 05 00 00 00", {}},
        {arrayOf({V::createWithInt(1), V::createWithInt(2)}), "[ii] | 00 00 00 01 00 00 00 02",
         0.0},
        {arrayOf({V::createWithBool(true), V::createArray(),
                  arrayOf({V::createWithString(std::string("ab"))})}),
         "[T[][s]] | 61 62 00 00",
         {}},
    };
    for (const auto& [value, wire, number] : table) {
        EXPECT_EQ(encoded(value), wire);
        if (!number) continue;
        EXPECT_DOUBLE_EQ(value->calculateDoubleValue(), *number) << wire;
    }
    EXPECT_EQ(V::createWithDouble(0.1)->calculateFloatValue(), 0.1f);
}

TEST(OSCValue, AbsentPayloadsGiveNothingAndOnlyColourLogs) {
    LogCapture capture;
    EXPECT_EQ(V::createWithColor(std::nullopt), nullptr);
    EXPECT_EQ(V::createWithNSDataBlob(nullptr), nullptr);
    EXPECT_EQ(V::createWithDate(std::numeric_limits<double>::quiet_NaN()), nullptr);
    auto message = OSCMessage::createWithAddress(std::string("/x"));
    message->addColor(std::nullopt);
    message->addNSDataBlob(nullptr);
    EXPECT_EQ(message->valueCount(), 0);
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>(2, "\t\terr: -[OSCValue initWithColor:] - BAIL"));
}

TEST(OSCValue, DatesConvertBothWaysAndWrongTypeReadsStayHarmless) {
    EXPECT_DOUBLE_EQ(V::createWithTimeSeconds(-1, 250000)->dateValue(), -0.75);
    EXPECT_EQ(V::createWithDate(-0.75)->timeValue(), (OSCTimeValue{-1, 250000}));
    EXPECT_EQ(V::createWithDate(1e12)->timeValue().seconds, INT32_MAX);
    const auto number = V::createWithInt(1);
    EXPECT_TRUE(!number->valueArray() && !number->blobNSData() && number->stringValue().empty());
    EXPECT_EQ(number->colorValue(), (OSCColor{0, 0, 0, 0}));
    EXPECT_EQ(V::createWithString(std::string("x"))->intValue(), 0);
}

TEST(OSCValue, SMPTEMasksEachFieldToItsWidthAndPrintsOnlyKnownRates) {
    // Hours are 5 bits: 33 keeps only 1; 300 frames keep 300 & 0xFF = 44.
    EXPECT_EQ(smpte(0, 0, 33, 0, 0, 300)->SMPTEValue(), 0x0010002C);
    EXPECT_EQ(smpte(15, 7, 31, 63, 63, 255)->SMPTEValue(), -1);
    const std::vector<std::pair<std::array<int32_t, 6>, std::optional<std::string>>> texts = {
        {{1, 0, 0, 0, 0, 12}, "0.12"},           {{1, 0, 0, 0, 5, 0}, "5.0"},
        {{1, 0, 0, 7, 0, 0}, "7:0.0"},           {{1, 2, 0, 0, 0, 1}, "2:0:0:0.1"},
        {{3, 0, 23, 59, 59, 29}, "23:59:59.29"}, {{7, 0, 0, 0, 0, 0}, std::nullopt},
    };
    for (const auto& [f, text] : texts)
        EXPECT_EQ(smpte(f[0], f[1], f[2], f[3], f[4], f[5])->SMPTEString(), text);
    EXPECT_EQ(smpte(1, 0, 0, 0, 0, 0)->lengthyDescription(), "<SMPTE (null)>");
}

// The short forms of every type are pinned by the parser's tests.
TEST(OSCValue, Descriptions) {
    EXPECT_EQ(V::descriptionOfValues({V::createWithInt(1), nullptr}), "(<OSCVal i 1>, (null))");
    std::string lengthy;
    for (const auto& value :
         {V::createWithInt(-3), V::createWithFloat(2.0f), V::createWithString(std::string("a b")),
          V::createWithTimeSeconds(3, 500000), V::createWithLongLong(-9000000000ll),
          V::createWithDouble(0.25), V::createWithChar('z'),
          V::createWithColor(OSCColor{1, 0.5, 0, 1}), V::createWithMIDIChannel(1, 144, 60, 127),
          V::createWithBool(true), V::createWithBool(false), V::createWithNil(),
          V::createWithInfinity(), arrayOf({V::createWithInt(1), V::createWithNil()}), blob({}),
          smpte(2, 0, 1, 2, 3, 4)})
        lengthy += value->lengthyDescription() + "|";
    EXPECT_EQ(
        lengthy,
        "integer -3|float 2.000000|string \"a b\"|Time Tag 3-500000|64-bit Integer -9000000000|"
        "64-bit Float 0.250000|Character \"z\"|color OSCColor(1.000 0.500 0.000 1.000)|"
        "MIDI 1-144-60-127>|True|False|nil|infinity|array (<OSCVal i 1>, <OSCVal N>)|"
        "<Data Blob>|<SMPTE 1:2:3.4>|");
}

TEST(OSCValue, CopiesShareStringsButNotArraysAndCyclesAreRefused) {
    const auto inner = arrayOf({V::createWithInt(1)});
    const auto text = V::createWithString(std::string("shared"));
    const auto outer = arrayOf({inner, text});
    const auto duplicate = outer->copy();
    EXPECT_TRUE(duplicate->isEqual(*outer));
    const auto& copied = *duplicate->valueArray();
    EXPECT_NE(copied[0], inner);
    EXPECT_EQ(&copied[1]->stringValue(), &text->stringValue());
    inner->addValue(V::createWithInt(2));
    EXPECT_EQ(copied[0]->valueArray()->size(), 1u);

    // An array that held itself would make encoding and descriptions recurse forever.
    outer->addValue(outer);
    inner->addValue(outer);
    EXPECT_EQ(outer->valueArray()->size(), 2u);
    EXPECT_EQ(inner->valueArray()->size(), 2u);
    V::createWithInt(1)->addValue(V::createWithInt(2));  // not an array: ignored
}

TEST(OSCValue, EqualityComparesPayloadsByContent) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(*V::createWithDouble(nan), *V::createWithDouble(nan));
    EXPECT_FALSE(*V::createWithDouble(0.0) == *V::createWithDouble(-0.0));
    EXPECT_FALSE(*V::createWithInt(1) == *V::createWithSMPTEChunk(1));
    EXPECT_EQ(*blob({1, 2}), *blob({1, 2}));
    EXPECT_FALSE(*blob({1, 2}) == *blob({1, 3}));
    EXPECT_FALSE(*arrayOf({V::createWithInt(1)}) ==
                 *arrayOf({V::createWithInt(1), V::createWithNil()}));
    EXPECT_FALSE(*V::createWithTimeSeconds(5, 6) == *V::createWithTimeSeconds(6, 5));
}
