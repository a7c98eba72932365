#include <gtest/gtest.h>

#include "basics/Log.h"
#include "osc/OSCValue.h"
#include "support/UdpListener.h"

using namespace vitrine;
using test::Bytes;

namespace {

// Encodes one value on its own into a buffer with `tagRoom` bytes of tag space before the data.
Bytes encodeAlone(const OSCValue& value, int32_t tagRoom = 4) {
    Bytes buffer(static_cast<size_t>(tagRoom + value.bufferLength()), 0);
    int32_t typeOffset = 0;
    int32_t dataOffset = tagRoom;
    value.writeToBuffer(buffer.data(), &typeOffset, &dataOffset);
    EXPECT_EQ(typeOffset, value.typeSignatureLength());
    EXPECT_EQ(dataOffset, tagRoom + value.bufferLength());
    return buffer;
}

}  // namespace

TEST(OSCValue, CoreTypesEncodeBigEndianWithTheirTag) {
    EXPECT_EQ(test::hex(encodeAlone(*OSCValue::createWithInt(1))), "69 00 00 00 00 00 00 01");
    EXPECT_EQ(test::hex(encodeAlone(*OSCValue::createWithInt(-1))), "69 00 00 00 FF FF FF FF");
    EXPECT_EQ(test::hex(encodeAlone(*OSCValue::createWithInt(INT32_MIN))),
              "69 00 00 00 80 00 00 00");
    EXPECT_EQ(test::hex(encodeAlone(*OSCValue::createWithFloat(1.0f))), "66 00 00 00 3F 80 00 00");
    EXPECT_EQ(test::hex(encodeAlone(*OSCValue::createWithFloat(-2.5f))), "66 00 00 00 C0 20 00 00");
}

TEST(OSCValue, StringsTakeTheirBytesPlusANulRoundedToFour) {
    const std::vector<std::pair<std::string, int64_t>> lengths = {
        {"", 4}, {"a", 4}, {"abc", 4}, {"abcd", 8}, {"abcdefg", 8}, {"abcdefgh", 12}, {"é", 4}};
    for (const auto& [text, length] : lengths) {
        EXPECT_EQ(OSCValue::createWithString(text)->bufferLength(), length) << text;
    }
    EXPECT_EQ(test::hex(encodeAlone(*OSCValue::createWithString(std::string("abcd")))),
              "73 00 00 00 61 62 63 64 00 00 00 00");
    EXPECT_EQ(test::hex(encodeAlone(*OSCValue::createWithString(std::string()))),
              "73 00 00 00 00 00 00 00");
}

TEST(OSCValue, AbsentStringBailsWithItsLogLine) {
    LogCapture capture;
    EXPECT_EQ(OSCValue::createWithString(std::nullopt), nullptr);
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"\t\terr: -[OSCValue initWithString:] - BAIL"});
}

TEST(OSCValue, AccessorsAndCopies) {
    const auto number = OSCValue::createWithInt(-7);
    EXPECT_EQ(number->type(), OSCValInt);
    EXPECT_EQ(number->intValue(), -7);
    EXPECT_EQ(number->typeSignatureLength(), 1);

    const auto text = OSCValue::createWithString(std::string("jar"));
    const auto textCopy = text->copy();
    ASSERT_NE(textCopy, nullptr);
    EXPECT_NE(textCopy, text);
    EXPECT_EQ(textCopy->type(), OSCValString);
    // The string object is shared, not duplicated.
    EXPECT_EQ(&textCopy->stringValue(), &text->stringValue());

    const auto fraction = OSCValue::createWithFloat(0.25f)->copy();
    EXPECT_EQ(fraction->type(), OSCValFloat);
    EXPECT_EQ(fraction->floatValue(), 0.25f);

    // Reading another type's payload is not meant to be done, but it must not throw or crash.
    EXPECT_EQ(text->intValue(), 0);
    EXPECT_EQ(number->stringValue(), "");
}

TEST(OSCValue, Descriptions) {
    EXPECT_EQ(OSCValue::createWithInt(1)->description(), "<OSCVal i 1>");
    EXPECT_EQ(OSCValue::createWithFloat(0.5f)->description(), "<OSCVal f 0.500000>");
    EXPECT_EQ(OSCValue::createWithString(std::string("100%"))->description(), "<OSCVal s 100%>");
    EXPECT_EQ(OSCValue::createWithInt(-3)->lengthyDescription(), "integer -3");
    EXPECT_EQ(OSCValue::createWithFloat(2.0f)->lengthyDescription(), "float 2.000000");
    EXPECT_EQ(OSCValue::createWithString(std::string("a b"))->lengthyDescription(),
              "string \"a b\"");
    EXPECT_EQ(OSCValue::descriptionOfValues({OSCValue::createWithInt(1), nullptr}),
              "(<OSCVal i 1>, (null))");
}

TEST(OSCValue, NumericViewOfCoreTypes) {
    EXPECT_EQ(OSCValue::createWithInt(-12)->calculateDoubleValue(), -12.0);
    EXPECT_EQ(OSCValue::createWithInt(16777217)->calculateDoubleValue(), 16777217.0);
    EXPECT_EQ(OSCValue::createWithFloat(0.1f)->calculateDoubleValue(), static_cast<double>(0.1f));
    EXPECT_EQ(OSCValue::createWithFloat(0.1f)->calculateFloatValue(), 0.1f);
    EXPECT_EQ(OSCValue::createWithString(std::string("3"))->calculateDoubleValue(), 0.0);
    EXPECT_EQ(OSCValue::createWithString(std::string("3"))->calculateFloatValue(), 0.0f);
}
