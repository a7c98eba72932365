#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "basics/Log.h"
#include "osc/OSCMessage.h"
#include "osc/OSCValue.h"
#include "support/OscWire.h"

using namespace vitrine;
using test::Bytes;
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

std::shared_ptr<const OSCData> data(std::initializer_list<uint8_t> bytes) {
    return std::make_shared<const OSCData>(bytes);
}

Value arrayOf(std::initializer_list<Value> elements) {
    auto array = OSCValue::createArray();
    for (const auto& element : elements) array->addValue(element);
    return array;
}

Value smpte(int32_t fps, int32_t days, int32_t h, int32_t m, int32_t s, int32_t frames) {
    return OSCValue::createWithSMPTEVals(fps, days, h, m, s, frames);
}

Value midi(uint8_t status, uint8_t data1, uint8_t data2) {
    return OSCValue::createWithMIDIChannel(0, status, data1, data2);
}

}  // namespace

TEST(OSCValueEncoding, EveryTypeHasItsTagAndBigEndianData) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::pair<Value, std::string>> table = {
        // Time tags: seconds from the 2001 reference date, then whole microseconds.
        {OSCValue::createWithTimeSeconds(3, 500000), "t | 00 00 00 03 00 07 A1 20"},
        {OSCValue::createWithDate(10.25), "t | 00 00 00 0A 00 03 D0 90"},
        {OSCValue::createWithTimeSeconds(0xFFFFFFFFll, 999999), "t | FF FF FF FF 00 0F 42 3F"},
        // Microseconds beyond 32 bits are cut rather than spilling into the seconds.
        {OSCValue::createWithTimeSeconds(1, (int64_t{1} << 32) + 2), "t | 00 00 00 01 00 00 00 02"},
        // Dates round to the nearest microsecond (0.3 s is 299999.99999 µs as a double), and a
        // fraction rounding up to a whole second carries.
        {OSCValue::createWithDate(700000000.3), "t | 29 B9 27 00 00 04 93 E0"},
        {OSCValue::createWithDate(5.9999999), "t | 00 00 00 06 00 00 00 00"},
        {OSCValue::createWithLongLong(0x0102030405060708ll), "h | 01 02 03 04 05 06 07 08"},
        {OSCValue::createWithLongLong(-2), "h | FF FF FF FF FF FF FF FE"},
        {OSCValue::createWithDouble(-0.0), "d | 80 00 00 00 00 00 00 00"},
        // A character travels as a 32-bit integer, sign included.
        {OSCValue::createWithChar('A'), "c | 00 00 00 41"},
        {OSCValue::createWithChar(-1), "c | FF FF FF FF"},
        {OSCValue::createWithMIDIChannel(1, 0x90, 60, 127), "m | 01 90 3C 7F"},
        {OSCValue::createWithSMPTEChunk(-2), "E | FF FF FF FE"},
        {smpte(OSCSMPTEFPS25, 0, 1, 2, 3, 4), "E | 20 10 83 04"},
        // Colour components are truncated; out-of-range ones and NaN clamp instead of wrapping.
        {OSCValue::createWithColor(OSCColor{1.0, 0.5, 0.0, 1.0}), "r | FF 7F 00 FF"},
        {OSCValue::createWithColor(OSCColor{2.0, -1.0, nan, 0.999}), "r | FF 00 00 FE"},
        {OSCValue::createWithBool(true), "T | "},
        {OSCValue::createWithBool(false), "F | "},
        {OSCValue::createWithNil(), "N | "},
        {OSCValue::createWithInfinity(), "I | "},
        {OSCValue::createWithNSDataBlob(data({})), "b | 00 00 00 00"},
        {OSCValue::createWithNSDataBlob(data({1, 2, 3, 4, 5})),
         "b | 00 00 00 05 01 02 03 04 05 00 00 00"},
        {OSCValue::createWithNSDataBlob(data({9, 8, 7, 6})), "b | 00 00 00 04 09 08 07 06"},
        {arrayOf({OSCValue::createWithInt(1), OSCValue::createWithInt(2)}),
         "[ii] | 00 00 00 01 00 00 00 02"},
        {OSCValue::createArray(), "[] | "},
        {arrayOf({OSCValue::createWithBool(true), OSCValue::createArray(),
                  arrayOf({OSCValue::createWithString(std::string("ab"))})}),
         "[T[][s]] | 61 62 00 00"},
    };
    for (const auto& [value, text] : table) EXPECT_EQ(encoded(value), text);
}

TEST(OSCValueEncoding, MessageWithExtendedTypesHasItsExactBytes) {
    auto message = OSCMessage::createWithAddress(std::string("/x"));
    message->addDouble(0.5);
    message->addColor(OSCColor{0.0, 1.0, 0.0, 1.0});
    message->addBOOL(false);
    message->addNSDataBlob(data({0xAB}));
    message->addValue(smpte(OSCSMPTEFPS25, 0, 1, 2, 3, 4));
    // "/x", ",drFbE", double, colour, blob (count, byte, padding), SMPTE word.
    EXPECT_EQ(test::hex(test::encoded(message)),
              "2F 78 00 00 2C 64 72 46 62 45 00 00 "
              "3F E0 00 00 00 00 00 00 00 FF 00 FF 00 00 00 01 AB 00 00 00 20 10 83 04");
}

TEST(OSCValue, AbsentPayloadsGiveNothingAndOnlyColourLogs) {
    LogCapture capture;
    EXPECT_EQ(OSCValue::createWithColor(std::nullopt), nullptr);
    EXPECT_EQ(OSCValue::createWithNSDataBlob(nullptr), nullptr);
    EXPECT_EQ(OSCValue::createWithDate(std::nan("")), nullptr);
    auto message = OSCMessage::createWithAddress(std::string("/x"));
    message->addColor(std::nullopt);
    message->addNSDataBlob(nullptr);
    EXPECT_EQ(message->valueCount(), 0);
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>(2, "\t\terr: -[OSCValue initWithColor:] - BAIL"));
}

TEST(OSCValue, AccessorsReadTheirPayloadAndWrongTypeReadsStayHarmless) {
    const auto time = OSCValue::createWithTimeSeconds(-1, 250000);
    EXPECT_DOUBLE_EQ(time->dateValue(), -0.75);
    EXPECT_EQ(OSCValue::createWithDate(-0.75)->timeValue(), (OSCTimeValue{-1, 250000}));
    EXPECT_EQ(OSCValue::createWithDate(1e12)->timeValue().seconds, INT32_MAX);
    const auto blob = data({1});
    EXPECT_EQ(OSCValue::createWithNSDataBlob(blob)->blobNSData(), blob);  // shared, not copied
    const auto number = OSCValue::createWithInt(1);
    EXPECT_EQ(number->valueArray(), nullptr);
    EXPECT_EQ(number->colorValue(), (OSCColor{0, 0, 0, 0}));
    EXPECT_EQ(number->blobNSData(), nullptr);
    EXPECT_EQ(number->stringValue(), "");
    EXPECT_EQ(OSCValue::createWithString(std::string("x"))->intValue(), 0);
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

TEST(OSCValue, NumericViewOfEveryType) {
    const std::vector<std::pair<Value, double>> table = {
        {OSCValue::createWithInt(16777217), 16777217.0},
        {OSCValue::createWithFloat(0.1f), static_cast<double>(0.1f)},
        {OSCValue::createWithString(std::string("3")), 0.0},
        {OSCValue::createWithLongLong(-(int64_t{1} << 40)), -1099511627776.0},
        {OSCValue::createWithChar(-3), -3.0},
        {OSCValue::createWithTimeSeconds(3, 500000), 3.5},
        {OSCValue::createWithBool(true), 1.0},
        {OSCValue::createWithBool(false), 0.0},
        {OSCValue::createWithInfinity(), 1.0},
        {OSCValue::createWithNSDataBlob(data({})), 1.0},
        {OSCValue::createWithNil(), 0.0},
        {arrayOf({OSCValue::createWithInt(5)}), 0.0},
        {OSCValue::createWithColor(OSCColor{0.3, 0.6, 0.9, 0.0}), 0.6},
        {smpte(OSCSMPTEFPS24, 1, 0, 0, 2, 12), 86402.5},
        {smpte(OSCSMPTEFPS120, 1, 0, 0, 2, 60), 86402.5},
        {smpte(OSCSMPTEFPSUnknown, 1, 0, 0, 2, 12), 86402.0},  // no rate: frames count nothing
        {smpte(8, 1, 0, 0, 2, 12), 86402.0},
        // MIDI: the whole status byte, channel nibble included, decides the number.
        {midi(0x90, 5, 127), 1.0},
        {midi(0x90, 127, 0), 0.0},
        {midi(0xC0, 127, 5), 1.0},
        {midi(0xE0, 0x7F, 0x7F), 1.0},
        {midi(0xF2, 0x00, 0x40), 8192 / 16383.0},
        {midi(0xF8, 0, 0), 1.0},
        {midi(0x91, 99, 99), 0.0},
        {midi(0xF0, 99, 99), 0.0},
    };
    for (const auto& [value, number] : table)
        EXPECT_DOUBLE_EQ(value->calculateDoubleValue(), number) << value->description();
    EXPECT_NEAR(smpte(OSCSMPTEFPS25, 0, 1, 2, 3, 4)->calculateDoubleValue(), 3723.16, 1e-9);
    EXPECT_EQ(OSCValue::createWithDouble(0.1)->calculateFloatValue(), 0.1f);
}

// The short forms of every type are pinned by the parser's tests; arrays and longer blobs here.
TEST(OSCValue, DescriptionsOfExtendedTypes) {
    const auto array = arrayOf({OSCValue::createWithInt(1), OSCValue::createWithNil()});
    EXPECT_EQ(array->description(), "<OSCVal [(<OSCVal i 1>, <OSCVal N>)]>");
    EXPECT_EQ(OSCValue::createWithNSDataBlob(data({0, 1, 0xAB, 3, 4}))->description(),
              "<OSCVal b: <0001ab03 04>>");
    const std::vector<std::pair<Value, std::string>> lengthy = {
        {OSCValue::createWithTimeSeconds(3, 500000), "Time Tag 3-500000"},
        {OSCValue::createWithLongLong(-9000000000ll), "64-bit Integer -9000000000"},
        {OSCValue::createWithDouble(0.25), "64-bit Float 0.250000"},
        {OSCValue::createWithChar('z'), "Character \"z\""},
        {OSCValue::createWithColor(OSCColor{1, 0.5, 0, 1}),
         "color OSCColor(1.000 0.500 0.000 1.000)"},
        {OSCValue::createWithMIDIChannel(1, 144, 60, 127), "MIDI 1-144-60-127>"},
        {OSCValue::createWithBool(true), "True"},
        {OSCValue::createWithBool(false), "False"},
        {OSCValue::createWithNil(), "nil"},
        {OSCValue::createWithInfinity(), "infinity"},
        {array, "array (<OSCVal i 1>, <OSCVal N>)"},
        {OSCValue::createWithNSDataBlob(data({})), "<Data Blob>"},
        {smpte(2, 0, 1, 2, 3, 4), "<SMPTE 1:2:3.4>"},
    };
    for (const auto& [value, text] : lengthy) EXPECT_EQ(value->lengthyDescription(), text);
}

TEST(OSCValue, ArrayCopiesAreDeepAndCyclesAreRefused) {
    const auto inner = arrayOf({OSCValue::createWithInt(1)});
    const auto text = OSCValue::createWithString(std::string("shared"));
    const auto outer = arrayOf({inner, text});
    const auto duplicate = outer->copy();
    ASSERT_NE(duplicate, nullptr);
    EXPECT_TRUE(duplicate->isEqual(*outer));
    const auto& copied = *duplicate->valueArray();
    EXPECT_NE(copied[0], inner);
    EXPECT_EQ(&copied[1]->stringValue(), &text->stringValue());  // the string object is shared
    inner->addValue(OSCValue::createWithInt(2));
    EXPECT_EQ(copied[0]->valueArray()->size(), 1u);

    // An array that held itself would make encoding and descriptions recurse forever.
    outer->addValue(outer);
    inner->addValue(outer);
    EXPECT_EQ(outer->valueArray()->size(), 2u);
    EXPECT_EQ(inner->valueArray()->size(), 2u);
    OSCValue::createWithInt(1)->addValue(OSCValue::createWithInt(2));  // not an array: ignored
}

TEST(OSCValue, EqualityComparesPayloadsByContent) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(*OSCValue::createWithDouble(nan), *OSCValue::createWithDouble(nan));
    EXPECT_FALSE(*OSCValue::createWithDouble(0.0) == *OSCValue::createWithDouble(-0.0));
    EXPECT_FALSE(*OSCValue::createWithInt(1) == *OSCValue::createWithSMPTEChunk(1));
    EXPECT_EQ(*OSCValue::createWithNSDataBlob(data({1, 2})),
              *OSCValue::createWithNSDataBlob(data({1, 2})));
    EXPECT_FALSE(*OSCValue::createWithNSDataBlob(data({1, 2})) ==
                 *OSCValue::createWithNSDataBlob(data({1, 3})));
    EXPECT_FALSE(*arrayOf({OSCValue::createWithInt(1)}) ==
                 *arrayOf({OSCValue::createWithInt(1), OSCValue::createWithNil()}));
    EXPECT_FALSE(*OSCValue::createWithTimeSeconds(5, 6) == *OSCValue::createWithTimeSeconds(6, 5));
}
