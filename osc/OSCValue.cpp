#include "osc/OSCValue.h"

#include <cmath>
#include <cstring>

#include "basics/Log.h"

namespace vitrine {

namespace {

constexpr int64_t round4(int64_t n) {
    return (n + 3) & ~int64_t{3};
}

void writeBigEndian32(uint8_t* out, uint32_t word) {
    out[0] = static_cast<uint8_t>(word >> 24);
    out[1] = static_cast<uint8_t>(word >> 16);
    out[2] = static_cast<uint8_t>(word >> 8);
    out[3] = static_cast<uint8_t>(word);
}

void writeBigEndian64(uint8_t* out, uint64_t word) {
    writeBigEndian32(out, static_cast<uint32_t>(word >> 32));
    writeBigEndian32(out + 4, static_cast<uint32_t>(word));
}

template <typename Bits, typename Number>
Bits bitsOf(Number number) {
    static_assert(sizeof(Bits) == sizeof(Number));
    Bits bits;
    std::memcpy(&bits, &number, sizeof bits);
    return bits;
}

// A colour component on the wire: times 255 truncated toward zero, kept inside one byte so that
// a component outside 0.0 to 1.0 (or a NaN) cannot wrap around into another colour.
uint8_t colorByte(double component) {
    const double scaled = component * 255.0;
    if (!(scaled > 0.0)) return 0;
    if (scaled >= 255.0) return 255;
    return static_cast<uint8_t>(scaled);
}

// The fields of a packed SMPTE word, from the top bit down.
struct SMPTEFields {
    uint32_t fps, days, hours, minutes, seconds, frames;
};

SMPTEFields unpackSMPTE(int32_t packedWord) {
    const auto word = static_cast<uint32_t>(packedWord);
    return {word >> 28,          (word >> 25) & 0x7, (word >> 20) & 0x1F,
            (word >> 14) & 0x3F, (word >> 8) & 0x3F, word & 0xFF};
}

double framesPerSecond(uint32_t fps) {
    static constexpr double kRates[] = {24.0, 25.0, 30.0, 48.0, 50.0, 60.0, 120.0};
    return fps >= 1 && fps <= 7 ? kRates[fps - 1] : 0.0;
}

double midiNumber(uint8_t status, uint8_t data1, uint8_t data2) {
    switch (status) {
        case 0x90:  // note on, poly pressure, control change: the second data byte is the level
        case 0xA0:
        case 0xB0:
            return data2 / 127.0;
        case 0xC0:  // program change, channel pressure, time-code quarter frame, song select
        case 0xD0:
        case 0xF1:
        case 0xF3:
            return data1 / 127.0;
        case 0xE0:  // pitch bend and song position carry 14 bits, low byte first
        case 0xF2:
            return (data1 + data2 * 128) / 16383.0;
        case 0xF6:
        case 0xF8:
        case 0xF9:
        case 0xFA:
        case 0xFB:
        case 0xFC:
        case 0xFD:
        case 0xFE:
        case 0xFF:
            return 1.0;
        default:
            return 0.0;
    }
}

// Renders bytes the way the platform shows a data object: hex in groups of four, in brackets.
std::string describeData(const OSCData& data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "<";
    text.reserve(data.size() * 2 + data.size() / 4 + 2);
    for (size_t i = 0; i < data.size(); ++i) {
        if (i && i % 4 == 0) text += ' ';
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 0xF];
    }
    return text + ">";
}

// The character as a C string of one character, as "%s" would show it (a NUL shows as nothing).
std::string characterText(int8_t character) {
    return character ? std::string(1, static_cast<char>(character)) : std::string();
}

const std::string kEmptyString;
const OSCColor kNoColor{0.0, 0.0, 0.0, 0.0};
const std::shared_ptr<const OSCData> kNoData;
const std::array<uint8_t, 4> kNoMIDI{};

template <typename T>
T payloadOr(const OSCValue::Payload& payload, T fallback) {
    const auto* held = std::get_if<T>(&payload);
    return held ? *held : fallback;
}

}  // namespace

OSCValue::OSCValue(Private, OSCValueType type, Payload payload)
    : valueType(type), value(std::move(payload)) {}

namespace {
thread_local OSCValue::Batch* openBatch = nullptr;
}

OSCValue::Block::Block(size_t room) {
    if (room == 0) return;
    slots = std::make_shared<std::optional<OSCValue>[]>(room);
    capacity = room;
}

OSCValue::Batch::Batch(size_t capacity) : previous(openBatch), own(capacity), block(&own) {
    if (capacity) openBatch = this;
}

OSCValue::Batch::Batch(Block& shared, size_t capacity) : previous(openBatch), block(&shared) {
    if (shared.full()) shared = Block(capacity);
    if (!shared.full()) openBatch = this;
}

OSCValue::Batch::~Batch() {
    if (openBatch == this) openBatch = previous;
}

std::shared_ptr<OSCValue> OSCValue::make(OSCValueType type, Payload payload) {
    if (Batch* batch = openBatch; batch && !batch->block->full()) {
        Block& block = *batch->block;
        std::optional<OSCValue>& slot = block.slots[block.used++];
        slot.emplace(Private{}, type, std::move(payload));
        return std::shared_ptr<OSCValue>(block.slots, &*slot);
    }
    return std::make_shared<OSCValue>(Private{}, type, std::move(payload));
}

std::shared_ptr<OSCValue> OSCValue::createWithInt(int32_t number) {
    return make(OSCValInt, Payload{std::in_place_type<int32_t>, number});
}

std::shared_ptr<OSCValue> OSCValue::createWithFloat(float number) {
    return make(OSCValFloat, Payload{std::in_place_type<float>, number});
}

std::shared_ptr<OSCValue> OSCValue::createWithString(const std::optional<std::string>& text) {
    if (!text) {
        Log::write("\t\terr: %s - BAIL", "-[OSCValue initWithString:]");
        return nullptr;
    }
    return make(OSCValString, std::make_shared<const std::string>(*text));
}

std::shared_ptr<OSCValue> OSCValue::createWithString(std::optional<std::string>&& text) {
    if (!text) {
        Log::write("\t\terr: %s - BAIL", "-[OSCValue initWithString:]");
        return nullptr;
    }
    return make(OSCValString, std::make_shared<const std::string>(std::move(*text)));
}

std::shared_ptr<OSCValue> OSCValue::createWithTimeSeconds(int64_t seconds, int64_t microSeconds) {
    const uint64_t word = (static_cast<uint64_t>(static_cast<uint32_t>(seconds)) << 32) |
                          static_cast<uint32_t>(microSeconds);
    return make(OSCValTimeTag, Payload{std::in_place_type<uint64_t>, word});
}

std::shared_ptr<OSCValue> OSCValue::createWithDate(Date date) {
    if (!std::isfinite(date)) return nullptr;
    // Kept within what the seconds half reads back as (a signed 32-bit number), which also keeps
    // the conversions below defined.
    double whole = std::floor(std::fmin(std::fmax(date, -2147483648.0), 2147483647.0));
    // Rounded to the nearest microsecond, as bundles write their time tags, so that a time tag
    // read from the wire and written again keeps its exact microseconds.
    auto microSeconds = static_cast<int64_t>(std::round((date - whole) * 1000000.0));
    if (microSeconds < 0) microSeconds = 0;
    if (microSeconds > 999999) {
        if (whole < 2147483647.0) {
            whole += 1.0;
            microSeconds = 0;
        } else {
            microSeconds = 999999;
        }
    }
    return createWithTimeSeconds(static_cast<int64_t>(whole), microSeconds);
}

std::shared_ptr<OSCValue> OSCValue::createWithLongLong(int64_t number) {
    return make(OSCValInt64, Payload{std::in_place_type<int64_t>, number});
}

std::shared_ptr<OSCValue> OSCValue::createWithDouble(double number) {
    return make(OSCValDouble, Payload{std::in_place_type<double>, number});
}

std::shared_ptr<OSCValue> OSCValue::createWithChar(int8_t character) {
    return make(OSCValChar, Payload{std::in_place_type<int8_t>, character});
}

std::shared_ptr<OSCValue> OSCValue::createWithColor(const std::optional<OSCColor>& color) {
    if (!color) {
        Log::write("\t\terr: %s - BAIL", "-[OSCValue initWithColor:]");
        return nullptr;
    }
    return make(OSCValColor, std::make_shared<const OSCColor>(*color));
}

std::shared_ptr<OSCValue> OSCValue::createWithMIDIChannel(uint8_t channel, uint8_t status,
                                                          uint8_t data1, uint8_t data2) {
    return make(OSCValMIDI, Payload{std::in_place_type<std::array<uint8_t, 4>>,
                                    std::array<uint8_t, 4>{channel, status, data1, data2}});
}

// True, false, nil and infinity carry no data and never change, so every message shares one
// value of each: a datagram of such tags then costs a list slot per tag, not an object.
std::shared_ptr<OSCValue> OSCValue::createWithBool(bool flag) {
    static const auto yes =
        std::make_shared<OSCValue>(Private{}, OSCValBool, Payload{std::in_place_type<bool>, true});
    static const auto no =
        std::make_shared<OSCValue>(Private{}, OSCValBool, Payload{std::in_place_type<bool>, false});
    return flag ? yes : no;
}

std::shared_ptr<OSCValue> OSCValue::createWithNil() {
    static const auto nil = std::make_shared<OSCValue>(Private{}, OSCValNil, Payload{});
    return nil;
}

std::shared_ptr<OSCValue> OSCValue::createWithInfinity() {
    static const auto infinity = std::make_shared<OSCValue>(Private{}, OSCValInfinity, Payload{});
    return infinity;
}

std::shared_ptr<OSCValue> OSCValue::createArray() {
    // Never in a batch: the array holds its elements, which may be in the batch's block, and the
    // block holding the array would then keep itself alive.
    return std::make_shared<OSCValue>(Private{}, OSCValArray, std::make_shared<ValueList>());
}

std::shared_ptr<OSCValue> OSCValue::createWithNSDataBlob(std::shared_ptr<const OSCData> data) {
    if (!data) return nullptr;
    return make(OSCValBlob, std::move(data));
}

std::shared_ptr<OSCValue> OSCValue::createWithSMPTEVals(int32_t fps, int32_t days, int32_t hours,
                                                        int32_t minutes, int32_t seconds,
                                                        int32_t frames) {
    const auto field = [](int32_t number, uint32_t mask, int shift) {
        return (static_cast<uint32_t>(number) & mask) << shift;
    };
    const uint32_t word = field(fps, 0xF, 28) | field(days, 0x7, 25) | field(hours, 0x1F, 20) |
                          field(minutes, 0x3F, 14) | field(seconds, 0x3F, 8) |
                          field(frames, 0xFF, 0);
    return createWithSMPTEChunk(static_cast<int32_t>(word));
}

std::shared_ptr<OSCValue> OSCValue::createWithSMPTEChunk(int32_t packedWord) {
    return make(OSCValSMPTE, Payload{std::in_place_type<int32_t>, packedWord});
}

int32_t OSCValue::intValue() const {
    return payloadOr<int32_t>(value, 0);
}

float OSCValue::floatValue() const {
    return payloadOr<float>(value, 0.0f);
}

const std::string& OSCValue::stringValue() const {
    const auto* text = std::get_if<std::shared_ptr<const std::string>>(&value);
    return text && *text ? **text : kEmptyString;
}

OSCTimeValue OSCValue::timeValue() const {
    const uint64_t word = payloadOr<uint64_t>(value, 0);
    return {static_cast<int32_t>(static_cast<uint32_t>(word >> 32)), static_cast<uint32_t>(word)};
}

Date OSCValue::dateValue() const {
    const OSCTimeValue time = timeValue();
    return static_cast<double>(time.seconds) + time.microSeconds / 1000000.0;
}

int64_t OSCValue::longLongValue() const {
    return payloadOr<int64_t>(value, 0);
}

double OSCValue::doubleValue() const {
    return payloadOr<double>(value, 0.0);
}

int8_t OSCValue::charValue() const {
    return payloadOr<int8_t>(value, 0);
}

const OSCColor& OSCValue::colorValue() const {
    const auto* color = std::get_if<std::shared_ptr<const OSCColor>>(&value);
    return color && *color ? **color : kNoColor;
}

const std::array<uint8_t, 4>& OSCValue::midiBytes() const {
    const auto* bytes = std::get_if<std::array<uint8_t, 4>>(&value);
    return bytes ? *bytes : kNoMIDI;
}

bool OSCValue::boolValue() const {
    return payloadOr<bool>(value, false);
}

const std::shared_ptr<const OSCData>& OSCValue::blobNSData() const {
    const auto* data = std::get_if<std::shared_ptr<const OSCData>>(&value);
    return data ? *data : kNoData;
}

std::shared_ptr<const OSCValue::ValueList> OSCValue::valueArray() const {
    if (valueType != OSCValArray) return nullptr;
    return payloadOr<std::shared_ptr<ValueList>>(value, nullptr);
}

int32_t OSCValue::SMPTEValue() const {
    return payloadOr<int32_t>(value, 0);
}

std::optional<std::string> OSCValue::SMPTEString() const {
    const SMPTEFields f = unpackSMPTE(SMPTEValue());
    if (f.days) {
        return stringWithFormat("%u:%u:%u:%u.%u", f.days, f.hours, f.minutes, f.seconds, f.frames);
    }
    if (f.hours) return stringWithFormat("%u:%u:%u.%u", f.hours, f.minutes, f.seconds, f.frames);
    if (f.minutes) return stringWithFormat("%u:%u.%u", f.minutes, f.seconds, f.frames);
    if (f.seconds || f.frames) return stringWithFormat("%u.%u", f.seconds, f.frames);
    return std::nullopt;
}

bool OSCValue::holds(const OSCValue* candidate) const {
    if (this == candidate) return true;
    if (valueType != OSCValArray) return false;
    const auto list = valueArray();
    for (const auto& element : *list) {
        if (element && element->holds(candidate)) return true;
    }
    return false;
}

void OSCValue::addValue(const std::shared_ptr<OSCValue>& element) {
    if (!element || valueType != OSCValArray) return;
    const auto* list = std::get_if<std::shared_ptr<ValueList>>(&value);
    if (!list || !*list || element->holds(this)) return;
    (*list)->push_back(element);
}

int64_t OSCValue::bufferLength() const {
    switch (valueType) {
        case OSCValInt:
        case OSCValFloat:
        case OSCValChar:
        case OSCValColor:
        case OSCValMIDI:
        case OSCValSMPTE:
            return 4;
        case OSCValTimeTag:
        case OSCValInt64:
        case OSCValDouble:
            return 8;
        case OSCValString:
            // The terminating NUL is part of the field, so an empty string still takes 4 bytes.
            return round4(static_cast<int64_t>(stringValue().size()) + 1);
        case OSCValBlob: {
            const auto& data = blobNSData();
            return 4 + round4(data ? static_cast<int64_t>(data->size()) : 0);
        }
        case OSCValArray: {
            int64_t total = 0;
            for (const auto& element : *valueArray()) total += element->bufferLength();
            return total;
        }
        default:
            return 0;
    }
}

int64_t OSCValue::typeSignatureLength() const {
    switch (valueType) {
        case OSCValUnknown:
            return 0;
        case OSCValArray: {
            int64_t total = 2;
            for (const auto& element : *valueArray()) total += element->typeSignatureLength();
            return total;
        }
        default:
            return 1;
    }
}

void OSCValue::writeToBuffer(uint8_t* buffer, int32_t* typeOffset, int32_t* dataOffset) const {
    if (!buffer || !typeOffset || !dataOffset) return;
    uint8_t* const data = buffer + *dataOffset;
    const auto tag = [&](char character) {
        buffer[(*typeOffset)++] = static_cast<uint8_t>(character);
    };
    switch (valueType) {
        case OSCValInt:
            tag('i');
            writeBigEndian32(data, static_cast<uint32_t>(intValue()));
            *dataOffset += 4;
            break;
        case OSCValFloat:
            tag('f');
            writeBigEndian32(data, bitsOf<uint32_t>(floatValue()));
            *dataOffset += 4;
            break;
        case OSCValString: {
            const std::string& text = stringValue();
            tag('s');
            std::memcpy(data, text.data(), text.size());
            *dataOffset += static_cast<int32_t>(bufferLength());
            break;
        }
        case OSCValTimeTag:
            tag('t');
            writeBigEndian64(data, payloadOr<uint64_t>(value, 0));
            *dataOffset += 8;
            break;
        case OSCValInt64:
            tag('h');
            writeBigEndian64(data, static_cast<uint64_t>(longLongValue()));
            *dataOffset += 8;
            break;
        case OSCValDouble:
            tag('d');
            writeBigEndian64(data, bitsOf<uint64_t>(doubleValue()));
            *dataOffset += 8;
            break;
        case OSCValChar:
            tag('c');
            writeBigEndian32(data, static_cast<uint32_t>(static_cast<int32_t>(charValue())));
            *dataOffset += 4;
            break;
        case OSCValColor: {
            const OSCColor& color = colorValue();
            tag('r');
            data[0] = colorByte(color.red);
            data[1] = colorByte(color.green);
            data[2] = colorByte(color.blue);
            data[3] = colorByte(color.alpha);
            *dataOffset += 4;
            break;
        }
        case OSCValMIDI:
            tag('m');
            std::memcpy(data, midiBytes().data(), 4);
            *dataOffset += 4;
            break;
        case OSCValBool:
            tag(boolValue() ? 'T' : 'F');
            break;
        case OSCValNil:
            tag('N');
            break;
        case OSCValInfinity:
            tag('I');
            break;
        case OSCValArray:
            tag('[');
            for (const auto& element : *valueArray())
                element->writeToBuffer(buffer, typeOffset, dataOffset);
            tag(']');
            break;
        case OSCValBlob: {
            const auto& blob = blobNSData();
            const size_t size = blob ? blob->size() : 0;
            tag('b');
            writeBigEndian32(data, static_cast<uint32_t>(size));
            if (size) std::memcpy(data + 4, blob->data(), size);
            *dataOffset += static_cast<int32_t>(bufferLength());
            break;
        }
        case OSCValSMPTE:
            tag('E');
            writeBigEndian32(data, static_cast<uint32_t>(SMPTEValue()));
            *dataOffset += 4;
            break;
        default:
            break;
    }
}

std::string OSCValue::description() const {
    switch (valueType) {
        case OSCValInt:
            return stringWithFormat("<OSCVal i %d>", intValue());
        case OSCValFloat:
            return stringWithFormat("<OSCVal f %f>", static_cast<double>(floatValue()));
        case OSCValString:
            return "<OSCVal s " + stringValue() + ">";
        case OSCValTimeTag: {
            const OSCTimeValue time = timeValue();
            return stringWithFormat("<OSCVal t: %lld-%lld>", static_cast<long long>(time.seconds),
                                    static_cast<long long>(time.microSeconds));
        }
        case OSCValInt64:
            return stringWithFormat("<OSCVal h: %lld>", static_cast<long long>(longLongValue()));
        case OSCValDouble:
            return stringWithFormat("<OSCVal d: %f>", doubleValue());
        case OSCValChar:
            return "<OSCVal c: " + characterText(charValue()) + ">";
        case OSCValColor:
            return "<OSCVal r " + colorValue().description() + ">";
        case OSCValMIDI:
            return stringWithFormat("<OSCVal m %d-%d-%d-%d>", midiPort(), midiStatus(), midiData1(),
                                    midiData2());
        case OSCValBool:
            return boolValue() ? "<OSCVal T>" : "<OSCVal F>";
        case OSCValNil:
            return "<OSCVal N>";
        case OSCValInfinity:
            return "<OSCVal I>";
        case OSCValArray:
            return "<OSCVal [" + descriptionOfValues(*valueArray()) + "]>";
        case OSCValBlob:
            return "<OSCVal b: " + (blobNSData() ? describeData(*blobNSData()) : "(null)") + ">";
        case OSCValSMPTE:
            return stringWithFormat("<OSCVal E: %d>", SMPTEValue());
        default:
            return "<OSCValue ?>";
    }
}

std::string OSCValue::lengthyDescription() const {
    switch (valueType) {
        case OSCValInt:
            return stringWithFormat("integer %d", intValue());
        case OSCValFloat:
            return stringWithFormat("float %f", static_cast<double>(floatValue()));
        case OSCValString:
            return "string \"" + stringValue() + "\"";
        case OSCValTimeTag: {
            const OSCTimeValue time = timeValue();
            return stringWithFormat("Time Tag %lld-%lld", static_cast<long long>(time.seconds),
                                    static_cast<long long>(time.microSeconds));
        }
        case OSCValInt64:
            return stringWithFormat("64-bit Integer %lld", static_cast<long long>(longLongValue()));
        case OSCValDouble:
            return stringWithFormat("64-bit Float %f", doubleValue());
        case OSCValChar:
            return "Character \"" + characterText(charValue()) + "\"";
        case OSCValColor:
            return "color " + colorValue().description();
        case OSCValMIDI:
            // The lone ">" is part of this text.
            return stringWithFormat("MIDI %d-%d-%d-%d>", midiPort(), midiStatus(), midiData1(),
                                    midiData2());
        case OSCValBool:
            return boolValue() ? "True" : "False";
        case OSCValNil:
            return "nil";
        case OSCValInfinity:
            return "infinity";
        case OSCValArray:
            return "array " + descriptionOfValues(*valueArray());
        case OSCValBlob:
            return "<Data Blob>";
        case OSCValSMPTE:
            return "<SMPTE " + SMPTEString().value_or("(null)") + ">";
        default:
            return "?";
    }
}

std::shared_ptr<OSCValue> OSCValue::copy() const {
    switch (valueType) {
        case OSCValUnknown:
            return nullptr;
        case OSCValArray: {
            auto duplicate = createArray();
            for (const auto& element : *valueArray()) duplicate->addValue(element->copy());
            return duplicate;
        }
        default:
            return make(valueType, value);
    }
}

bool OSCValue::isEqual(const OSCValue& other) const {
    if (valueType != other.valueType) return false;
    switch (valueType) {
        case OSCValFloat:
            return bitsOf<uint32_t>(floatValue()) == bitsOf<uint32_t>(other.floatValue());
        case OSCValDouble:
            return bitsOf<uint64_t>(doubleValue()) == bitsOf<uint64_t>(other.doubleValue());
        case OSCValString:
            return stringValue() == other.stringValue();
        case OSCValColor:
            return colorValue() == other.colorValue();
        case OSCValBlob: {
            const auto& mine = blobNSData();
            const auto& theirs = other.blobNSData();
            return mine == theirs || (mine && theirs && *mine == *theirs);
        }
        case OSCValArray: {
            const auto& mine = *valueArray();
            const auto& theirs = *other.valueArray();
            if (mine.size() != theirs.size()) return false;
            for (size_t i = 0; i < mine.size(); ++i) {
                if (!mine[i]->isEqual(*theirs[i])) return false;
            }
            return true;
        }
        default:
            return value == other.value;
    }
}

double OSCValue::calculateDoubleValue() const {
    switch (valueType) {
        case OSCValInt:
            return intValue();
        case OSCValInt64:
            return static_cast<double>(longLongValue());
        case OSCValChar:
            return charValue();
        case OSCValFloat:
            return floatValue();
        case OSCValDouble:
            return doubleValue();
        case OSCValTimeTag:
            return dateValue();
        case OSCValBool:
            return boolValue() ? 1.0 : 0.0;
        case OSCValInfinity:
        case OSCValBlob:
            return 1.0;
        case OSCValColor: {
            // The brightness of the colour; alpha says how opaque it is, not how bright.
            const OSCColor& color = colorValue();
            return (color.red + color.green + color.blue) / 3.0;
        }
        case OSCValMIDI:
            return midiNumber(static_cast<uint8_t>(midiStatus()), midiData1(), midiData2());
        case OSCValSMPTE: {
            const SMPTEFields f = unpackSMPTE(SMPTEValue());
            const double rate = framesPerSecond(f.fps);
            const double frameSeconds = rate > 0.0 ? f.frames / rate : 0.0;
            return frameSeconds + f.seconds + f.minutes * 60.0 + f.hours * 3600.0 +
                   f.days * 86400.0;
        }
        default:
            return 0.0;
    }
}

float OSCValue::calculateFloatValue() const {
    return static_cast<float>(calculateDoubleValue());
}

std::string OSCValue::descriptionOfValues(const std::vector<std::shared_ptr<OSCValue>>& values) {
    std::string text = "(";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) text += ", ";
        text += values[i] ? values[i]->description() : "(null)";
    }
    return text + ")";
}

}  // namespace vitrine
