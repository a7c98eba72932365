#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "basics/Date.h"
#include "osc/OSCByteWriter.h"
#include "osc/OSCColor.h"

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

// The wire shape of each type, indexed by its code: its tag (0 for none) and the data bytes the
// type decides (0 for the tags without data), or -1 where the payload does (strings, blobs,
// arrays). Everything else the codec knows about a type is in its row in OSCValue.cpp.
struct OSCWireShape {
    char tag;
    int8_t dataSize;
};
inline constexpr OSCWireShape kOSCWireShapes[] = {
    {0, 0},   {'i', 4}, {'f', 4}, {'s', -1}, {'t', 8}, {'h', 8},  {'d', 8},  {'c', 4},
    {'r', 4}, {'m', 4}, {'T', 0}, {'N', 0},  {'I', 0}, {'[', -1}, {'b', -1}, {'E', 4},
};

// The type each received tag byte makes; OSCValUnknown for tags of no known type. "S" (a symbol)
// reads as a string and "F" as a boolean, beside the tags of kOSCWireShapes.
inline constexpr auto kOSCTypeOfTag = [] {
    std::array<OSCValueType, 256> table{};
    for (int type = 1; type < static_cast<int>(std::size(kOSCWireShapes)); ++type)
        table[static_cast<uint8_t>(kOSCWireShapes[type].tag)] = static_cast<OSCValueType>(type);
    table['S'] = OSCValString;
    table['F'] = OSCValBool;
    return table;
}();

// An immutable byte buffer, as blobs and encoded messages are handed around.
using OSCData = std::vector<uint8_t>;

// Frame-rate code of an SMPTE time (the top four bits of the packed word). 0 and 8 to 15 name no
// rate; such a time still has its other fields, only its frames count for nothing in seconds.
enum OSCSMPTEFPS : int32_t {
    OSCSMPTEFPSUnknown = 0,
    OSCSMPTEFPS24 = 1,
    OSCSMPTEFPS25 = 2,
    OSCSMPTEFPS30 = 3,
    OSCSMPTEFPS48 = 4,
    OSCSMPTEFPS50 = 5,
    OSCSMPTEFPS60 = 6,
    OSCSMPTEFPS120 = 7,
};

// The two halves of a time tag. Seconds count from the reference date 2001-01-01 00:00:00 UTC
// (not from 1900 as plain NTP does) and the fraction is whole microseconds, not 1/2^32 units:
// peers must share this convention.
struct OSCTimeValue {
    int64_t seconds = 0;        // the upper 32 bits, read as a signed number
    uint32_t microSeconds = 0;  // the lower 32 bits
    friend bool operator==(const OSCTimeValue&, const OSCTimeValue&) = default;
};

// One typed OSC argument: a type code and the payload it owns. Immutable once created, except
// that an array value grows through addValue.
// Thread safety: distinct objects safe; shared objects safe for concurrent reading, unsafe while
// an array is still being filled.
class OSCValue {
    struct Private {
        explicit Private() = default;
    };

public:
    using ValueList = std::vector<std::shared_ptr<OSCValue>>;

    // Where each type's payload lives. The type code, not the alternative, says what a value is,
    // so several types share one alternative (integers and SMPTE words, say).
    using Payload = std::variant<std::monostate,                      // nil, infinity, unknown
                                 int32_t,                             // OSCValInt, OSCValSMPTE
                                 float,                               // OSCValFloat
                                 std::shared_ptr<const std::string>,  // OSCValString
                                 uint64_t,                            // OSCValTimeTag
                                 int64_t,                             // OSCValInt64
                                 double,                              // OSCValDouble
                                 int8_t,                              // OSCValChar
                                 std::shared_ptr<const OSCColor>,     // OSCValColor
                                 std::array<uint8_t, 4>,              // OSCValMIDI
                                 bool,                                // OSCValBool
                                 std::shared_ptr<ValueList>,          // OSCValArray
                                 std::shared_ptr<const OSCData>       // OSCValBlob
                                 >;

    static std::shared_ptr<OSCValue> createWithInt(int32_t number);
    static std::shared_ptr<OSCValue> createWithFloat(float number);
    // An absent string gives nothing and logs "-[OSCValue initWithString:] - BAIL".
    static std::shared_ptr<OSCValue> createWithString(const std::optional<std::string>& text);
    static std::shared_ptr<OSCValue> createWithString(std::optional<std::string>&& text);

    // Seconds go to the upper 32 bits, microseconds (meant to be 0 to 999999) to the lower 32;
    // each is cut to 32 bits so that neither can spill into the other half.
    static std::shared_ptr<OSCValue> createWithTimeSeconds(int64_t seconds, int64_t microSeconds);
    // A time tag for a date: whole seconds and the microseconds below them rounded to the nearest,
    // as bundles write their dates. Dates beyond the signed 32-bit range of seconds are held at its
    // ends; a date that is not finite gives nothing.
    static std::shared_ptr<OSCValue> createWithDate(Date date);
    static std::shared_ptr<OSCValue> createWithLongLong(int64_t number);
    static std::shared_ptr<OSCValue> createWithDouble(double number);
    static std::shared_ptr<OSCValue> createWithChar(int8_t character);
    // An absent colour gives nothing and logs "-[OSCValue initWithColor:] - BAIL".
    static std::shared_ptr<OSCValue> createWithColor(const std::optional<OSCColor>& color);
    static std::shared_ptr<OSCValue> createWithMIDIChannel(uint8_t channel, uint8_t status,
                                                           uint8_t data1, uint8_t data2);
    static std::shared_ptr<OSCValue> createWithBool(bool flag);
    static std::shared_ptr<OSCValue> createWithNil();
    static std::shared_ptr<OSCValue> createWithInfinity();
    // An empty array that grows through addValue.
    static std::shared_ptr<OSCValue> createArray();
    // Shares the buffer rather than copying it; an absent buffer gives nothing, without a log line.
    static std::shared_ptr<OSCValue> createWithNSDataBlob(std::shared_ptr<const OSCData> data);
    // Packs the fields into one word, each cut to its width (rate 4 bits, days 3, hours 5,
    // minutes 6, seconds 6, frames 8, from the top bit down).
    static std::shared_ptr<OSCValue> createWithSMPTEVals(int32_t fps, int32_t days, int32_t hours,
                                                         int32_t minutes, int32_t seconds,
                                                         int32_t frames);
    static std::shared_ptr<OSCValue> createWithSMPTEChunk(int32_t packedWord);

    OSCValue(Private, OSCValueType type, Payload payload);
    // The payload made in place.
    template <typename T, typename Arg>
    OSCValue(Private, OSCValueType type, std::in_place_type_t<T> kind, Arg&& payload)
        : valueType(type), value(kind, std::forward<Arg>(payload)) {}

    // Room for values made together, in one allocation: each value placed there is handed out
    // as a shared_ptr that keeps the whole block alive. Values never move once placed.
    class Block {
    public:
        Block() = default;
        // A block with room for `capacity` values (none for 0).
        explicit Block(size_t capacity);
        bool full() const { return used == capacity; }

    private:
        friend class OSCValue;
        // The shared part: the count of values made, with their slots right behind it in the
        // same allocation. Only the values made are ever constructed or destroyed.
        struct Slots;
        std::shared_ptr<Slots> slots;
        OSCValue* first = nullptr;
        size_t used = 0;
        size_t capacity = 0;
    };

    // While a Batch exists on a thread, the values created there (other than arrays and the
    // shared true, false, nil and infinity) are placed in its block instead of one allocation
    // each; beyond its room they are made one by one. The parser opens one per message, sized by
    // its tags, so a received "/list" of 24 numbers costs one allocation for its values instead
    // of 24. (A message being built places the values it makes in its own block directly.)
    class Batch {
    public:
        // Over a block of its own with room for `capacity` values.
        explicit Batch(size_t capacity);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        friend class OSCValue;
        Batch* previous;
        Block own;
    };

    OSCValueType type() const { return valueType; }

    // Payload readers, meant for values of the matching type; any other type reads as 0, "",
    // false, a default colour or an empty blob rather than failing.
    int32_t intValue() const;
    float floatValue() const;
    const std::string& stringValue() const;
    OSCTimeValue timeValue() const;
    // Seconds since the reference date, with the microseconds as a fraction.
    Date dateValue() const;
    int64_t longLongValue() const;
    double doubleValue() const;
    int8_t charValue() const;
    const OSCColor& colorValue() const;
    uint8_t midiPort() const { return midiBytes()[0]; }
    int32_t midiStatus() const { return midiBytes()[1]; }
    uint8_t midiData1() const { return midiBytes()[2]; }
    uint8_t midiData2() const { return midiBytes()[3]; }
    bool boolValue() const;
    const std::shared_ptr<const OSCData>& blobNSData() const;
    // The elements of an array value; nothing for any other type.
    std::shared_ptr<const ValueList> valueArray() const;
    int32_t SMPTEValue() const;
    // "h:m:s.f"-style text led by the first non-zero field; nothing for an all-zero time.
    std::optional<std::string> SMPTEString() const;

    // Appends to an array value. Ignored for an absent value, for any other type, and for a value
    // that already holds this array (which would make encoding and describing loop forever).
    void addValue(const std::shared_ptr<OSCValue>& element);

    // Data bytes on the wire.
    int64_t bufferLength() const;
    // Type-tag characters this value contributes (0 for an unknown type).
    int64_t typeSignatureLength() const;
    // Writes the tag(s) at *typeOffset and the data at *dataOffset of one zero-filled message
    // buffer and advances both; padding is left to the buffer's zeros.
    void writeToBuffer(uint8_t* buffer, int32_t* typeOffset, int32_t* dataOffset) const;
    // The same into two writers, one over the message's tag string and one over its data; a
    // value that does not fit leaves the writers failed.
    void writeTo(OSCByteWriter& tags, OSCByteWriter& data) const;

    // For the parser. The type a received tag byte makes (OSCValUnknown for none); the data bytes
    // a value of that type takes when the type decides them (0 for none), -1 when the data says
    // (strings, blobs) or the tag is no value of its own (arrays); and a value of a fixed-size
    // type made from that many bytes, which the caller has checked are there.
    static OSCValueType typeForTag(uint8_t tag) { return kOSCTypeOfTag[tag]; }
    static int wireDataSize(OSCValueType type) {
        const auto index = static_cast<uint32_t>(type);
        return index < std::size(kOSCWireShapes) ? kOSCWireShapes[index].dataSize : 0;
    }
    static std::shared_ptr<OSCValue> readFixed(uint8_t tag, const uint8_t* data);

    std::string description() const;
    std::string lengthyDescription() const;

    // A new value with the same type and payload; strings, colours and blobs are shared, arrays
    // are copied element by element. An unknown value copies to nothing.
    std::shared_ptr<OSCValue> copy() const;

    // Same type and same payload: strings, colours and blobs by content, arrays element by
    // element, floating-point numbers by bit pattern (so that a NaN equals itself and 0.0 differs
    // from -0.0, exactly as their encodings do).
    bool isEqual(const OSCValue& other) const;
    friend bool operator==(const OSCValue& a, const OSCValue& b) { return a.isEqual(b); }

    // Numeric view of any value (numbers as themselves, MIDI by its status byte, SMPTE times in
    // seconds, strings and containers as 0.0).
    double calculateDoubleValue() const;
    float calculateFloatValue() const;

    // One-line rendering of a list of values, "(<OSCVal i 1>, <OSCVal s a>)", used wherever a
    // description shows several values.
    static std::string descriptionOfValues(const std::vector<std::shared_ptr<OSCValue>>& values);

private:
    // A message places the values its own add operations make straight into its block, with no
    // batch to open and close per value. The block must have room; each gives the new value.
    friend class OSCMessage;
    static std::shared_ptr<OSCValue> placeIn(Block& block, int32_t number);
    static std::shared_ptr<OSCValue> placeIn(Block& block, float number);
    static std::shared_ptr<OSCValue> placeIn(Block& block, double number);
    static std::shared_ptr<OSCValue> placeIn(Block& block, std::shared_ptr<const std::string> text);
    static std::shared_ptr<OSCValue> placeIn(Block& block, std::shared_ptr<const OSCColor> color);
    static std::shared_ptr<OSCValue> placeIn(Block& block, std::shared_ptr<const OSCData> data);
    template <typename T, typename Arg>
    static std::shared_ptr<OSCValue> place(Block& block, OSCValueType type,
                                           std::in_place_type_t<T> kind, Arg&& payload);

    struct TypeFacts;
    static const TypeFacts& facts(OSCValueType type);
    template <typename T, typename Arg>
    static std::shared_ptr<OSCValue> make(OSCValueType type, std::in_place_type_t<T> kind,
                                          Arg&& payload);
    static std::shared_ptr<OSCValue> make(OSCValueType type, const Payload& payload);
    const std::array<uint8_t, 4>& midiBytes() const;
    bool holds(const OSCValue* candidate) const;

    const OSCValueType valueType;
    const Payload value;
};

}  // namespace vitrine
