#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vitrine {

// Type code of an OSC argument. The numbers are part of the library's interface.
enum OSCValueType : int32_t {
    OSCValUnknown = 0,
    OSCValInt = 1,
    OSCValFloat = 2,
    OSCValString = 3,
    OSCValTimeTag = 4,
    OSCValInt64 = 5,
    OSCValDouble = 6,
    OSCValChar = 7,
    OSCValColor = 8,
    OSCValMIDI = 9,
    OSCValBool = 10,
    OSCValNil = 11,
    OSCValInfinity = 12,
    OSCValArray = 13,
    OSCValBlob = 14,
    OSCValSMPTE = 15,
};

// An immutable byte buffer, as blobs and encoded messages are handed around.
using OSCData = std::vector<uint8_t>;

// One typed OSC argument: a type code and the payload it owns. Immutable once created.
// Thread safety: distinct objects safe; shared objects safe for concurrent reading.
class OSCValue {
    struct Private {
        explicit Private() = default;
    };

public:
    // Where each type's payload lives. The type code, not the alternative, says what a value is,
    // so several types may share one alternative (as integers and packed words can).
    using Payload = std::variant<std::monostate,  // unknown and payload-less types
                                 int32_t,         // OSCValInt
                                 float,           // OSCValFloat
                                 std::shared_ptr<const std::string>  // OSCValString
                                 >;

    static std::shared_ptr<OSCValue> createWithInt(int32_t number);
    static std::shared_ptr<OSCValue> createWithFloat(float number);
    // An absent string gives nothing and logs "-[OSCValue initWithString:] - BAIL".
    static std::shared_ptr<OSCValue> createWithString(const std::optional<std::string>& text);

    OSCValue(Private, OSCValueType type, Payload payload);

    OSCValueType type() const { return valueType; }

    // Payload readers, meant for values of the matching type; any other type reads as 0 or "".
    int32_t intValue() const;
    float floatValue() const;
    const std::string& stringValue() const;

    // Data bytes on the wire.
    int64_t bufferLength() const;
    // Type-tag characters this value contributes (0 for an unknown type).
    int64_t typeSignatureLength() const;
    // Writes the tag(s) at *typeOffset and the data at *dataOffset of one zero-filled message
    // buffer and advances both; padding is left to the buffer's zeros.
    void writeToBuffer(uint8_t* buffer, int32_t* typeOffset, int32_t* dataOffset) const;

    std::string description() const;
    std::string lengthyDescription() const;

    // A new value with the same type and payload; strings are shared, not duplicated. An unknown
    // value copies to nothing.
    std::shared_ptr<OSCValue> copy() const;

    // Numeric view of any value: numbers as themselves, strings and unknown values as 0.0.
    double calculateDoubleValue() const;
    float calculateFloatValue() const;

    // One-line rendering of a list of values, "(<OSCVal i 1>, <OSCVal s a>)", used wherever a
    // description shows several values.
    static std::string descriptionOfValues(const std::vector<std::shared_ptr<OSCValue>>& values);

private:
    const OSCValueType valueType;
    const Payload value;
};

}  // namespace vitrine
