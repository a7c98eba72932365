#include "osc/OSCValue.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "basics/Log.h"
#include "osc/OSCTrailingBytes.h"

namespace vitrine {

namespace {

constexpr int64_t round4(int64_t n) {
    return (n + 3) & ~int64_t{3};
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

struct OSCValue::Block::Slots {
    // Read at construction, once the allocator has said where the slots start.
    explicit Slots(uint8_t* const& start) : first(reinterpret_cast<OSCValue*>(start)) {}
    ~Slots() {
        for (size_t i = made; i-- > 0;) {
            // A number's storage is simply let go: its payload has nothing to release, and the
            // destructor would still be a visit of the variant per value.
            if (!ownsNothing(first[i].value)) std::destroy_at(first + i);
        }
    }
    Slots(const Slots&) = delete;
    Slots& operator=(const Slots&) = delete;

    static bool ownsNothing(const Payload& payload) {
        static constexpr auto kTrivial = []<size_t... I>(std::index_sequence<I...>) {
            return std::array<bool, sizeof...(I)>{
                std::is_trivially_destructible_v<std::variant_alternative_t<I, Payload>>...};
        }(std::make_index_sequence<std::variant_size_v<Payload>>{});
        return !payload.valueless_by_exception() && kTrivial[payload.index()];
    }

    OSCValue* const first;
    size_t made = 0;
};

OSCValue::Block::Block(size_t room) {
    if (room == 0) return;
    // The slots are allocated with the count in one piece; nothing is constructed in them yet.
    uint8_t* bytes = nullptr;
    slots = std::allocate_shared<Slots>(WithTrailingBytes<Slots>(room * sizeof(OSCValue), &bytes),
                                        bytes);
    first = slots->first;
    capacity = room;
}

OSCValue::Batch::Batch(size_t capacity) : previous(openBatch), own(capacity) {
    if (capacity) openBatch = this;
}

OSCValue::Batch::~Batch() {
    if (openBatch == this) openBatch = previous;
}

// The payload is built where the value lives, never moved there: a moved variant is a visit, and
// a received "/list" makes a dozen values.
template <typename T, typename Arg>
std::shared_ptr<OSCValue> OSCValue::place(Block& block, OSCValueType type,
                                          std::in_place_type_t<T> kind, Arg&& payload) {
    OSCValue* const slot = std::construct_at(block.first + block.used, Private{}, type, kind,
                                             std::forward<Arg>(payload));
    ++block.used;
    ++block.slots->made;
    return std::shared_ptr<OSCValue>(block.slots, slot);
}

template <typename T, typename Arg>
std::shared_ptr<OSCValue> OSCValue::make(OSCValueType type, std::in_place_type_t<T> kind,
                                         Arg&& payload) {
    if (Batch* batch = openBatch; batch && !batch->own.full())
        return place(batch->own, type, kind, std::forward<Arg>(payload));
    return std::make_shared<OSCValue>(Private{}, type, kind, std::forward<Arg>(payload));
}

std::shared_ptr<OSCValue> OSCValue::placeIn(Block& block, int32_t number) {
    return place(block, OSCValInt, std::in_place_type<int32_t>, number);
}

std::shared_ptr<OSCValue> OSCValue::placeIn(Block& block, float number) {
    return place(block, OSCValFloat, std::in_place_type<float>, number);
}

std::shared_ptr<OSCValue> OSCValue::placeIn(Block& block, double number) {
    return place(block, OSCValDouble, std::in_place_type<double>, number);
}

std::shared_ptr<OSCValue> OSCValue::placeIn(Block& block, std::shared_ptr<const std::string> text) {
    return place(block, OSCValString, std::in_place_type<std::shared_ptr<const std::string>>,
                 std::move(text));
}

std::shared_ptr<OSCValue> OSCValue::placeIn(Block& block, std::shared_ptr<const OSCColor> color) {
    return place(block, OSCValColor, std::in_place_type<std::shared_ptr<const OSCColor>>,
                 std::move(color));
}

std::shared_ptr<OSCValue> OSCValue::placeIn(Block& block, std::shared_ptr<const OSCData> data) {
    return place(block, OSCValBlob, std::in_place_type<std::shared_ptr<const OSCData>>,
                 std::move(data));
}

std::shared_ptr<OSCValue> OSCValue::make(OSCValueType type, const Payload& payload) {
    return std::visit(
        [type](const auto& held) {
            using T = std::decay_t<decltype(held)>;
            return make(type, std::in_place_type<T>, held);
        },
        payload);
}

std::shared_ptr<OSCValue> OSCValue::createWithInt(int32_t number) {
    return make(OSCValInt, std::in_place_type<int32_t>, number);
}

std::shared_ptr<OSCValue> OSCValue::createWithFloat(float number) {
    return make(OSCValFloat, std::in_place_type<float>, number);
}

std::shared_ptr<OSCValue> OSCValue::createWithString(const std::optional<std::string>& text) {
    if (!text) {
        Log::write("\t\terr: %s - BAIL", "-[OSCValue initWithString:]");
        return nullptr;
    }
    return make(OSCValString, std::in_place_type<std::shared_ptr<const std::string>>,
                std::make_shared<const std::string>(*text));
}

std::shared_ptr<OSCValue> OSCValue::createWithString(std::optional<std::string>&& text) {
    if (!text) {
        Log::write("\t\terr: %s - BAIL", "-[OSCValue initWithString:]");
        return nullptr;
    }
    return make(OSCValString, std::in_place_type<std::shared_ptr<const std::string>>,
                std::make_shared<const std::string>(std::move(*text)));
}

std::shared_ptr<OSCValue> OSCValue::createWithTimeSeconds(int64_t seconds, int64_t microSeconds) {
    const uint64_t word = (static_cast<uint64_t>(static_cast<uint32_t>(seconds)) << 32) |
                          static_cast<uint32_t>(microSeconds);
    return make(OSCValTimeTag, std::in_place_type<uint64_t>, word);
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
    return make(OSCValInt64, std::in_place_type<int64_t>, number);
}

std::shared_ptr<OSCValue> OSCValue::createWithDouble(double number) {
    return make(OSCValDouble, std::in_place_type<double>, number);
}

std::shared_ptr<OSCValue> OSCValue::createWithChar(int8_t character) {
    return make(OSCValChar, std::in_place_type<int8_t>, character);
}

std::shared_ptr<OSCValue> OSCValue::createWithColor(const std::optional<OSCColor>& color) {
    if (!color) {
        Log::write("\t\terr: %s - BAIL", "-[OSCValue initWithColor:]");
        return nullptr;
    }
    return make(OSCValColor, std::in_place_type<std::shared_ptr<const OSCColor>>,
                std::make_shared<const OSCColor>(*color));
}

std::shared_ptr<OSCValue> OSCValue::createWithMIDIChannel(uint8_t channel, uint8_t status,
                                                          uint8_t data1, uint8_t data2) {
    return make(OSCValMIDI, std::in_place_type<std::array<uint8_t, 4>>,
                std::array<uint8_t, 4>{channel, status, data1, data2});
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
    return make(OSCValBlob, std::in_place_type<std::shared_ptr<const OSCData>>, std::move(data));
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
    return make(OSCValSMPTE, std::in_place_type<int32_t>, packedWord);
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

// Everything the codec knows about one type besides its wire shape (kOSCWireShapes), in one row:
// how it writes and reads its data, its texts, its number and its equality. Rows are indexed by
// the type code; fixed-size types also read from the wire here, so that the parser and the
// encoder cannot disagree about a type's bytes.
struct OSCValue::TypeFacts {
    // Data bytes when kOSCWireShapes says the payload decides them.
    int64_t (*variableLength)(const OSCValue&) = nullptr;
    // The tag(s) and the data; padding included.
    void (*write)(const OSCValue&, OSCByteWriter& tags, OSCByteWriter& data) = nullptr;
    // A value made from its type's fixed number of received bytes (fixed-size types only). The
    // number rows make it in place themselves rather than through their createWith...: a received
    // "/list" reads a dozen of them, and the extra call was a tenth of each.
    std::shared_ptr<OSCValue> (*read)(uint8_t tag, const uint8_t* data) = nullptr;
    std::string (*describe)(const OSCValue&) = nullptr;
    std::string (*lengthy)(const OSCValue&) = nullptr;
    double (*number)(const OSCValue&) = nullptr;
    // Payload equality where the payload's own == is not what the encoding says.
    bool (*same)(const OSCValue&, const OSCValue&) = nullptr;
};

namespace {

uint32_t wire32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint64_t wire64(const uint8_t* p) {
    return (uint64_t{wire32(p)} << 32) | wire32(p + 4);
}

std::string describeNothing(const OSCValue&) {
    return "<OSCValue ?>";
}

std::string lengthyNothing(const OSCValue&) {
    return "?";
}

double zero(const OSCValue&) {
    return 0.0;
}

double one(const OSCValue&) {
    return 1.0;
}

void writeNothing(const OSCValue&, OSCByteWriter&, OSCByteWriter&) {}

}  // namespace

const OSCValue::TypeFacts& OSCValue::facts(OSCValueType type) {
    using V = OSCValue;
    using W = OSCByteWriter;
    static constexpr TypeFacts kUnknown{nullptr,        writeNothing, nullptr, describeNothing,
                                        lengthyNothing, zero,         nullptr};
    static constexpr TypeFacts kRows[] = {
        kUnknown,
        // OSCValInt
        {nullptr,
         [](const V& v, W& tags, W& data) {
             tags.put8('i');
             data.put32(static_cast<uint32_t>(v.intValue()));
         },
         [](uint8_t, const uint8_t* p) {
             return make(OSCValInt, std::in_place_type<int32_t>, static_cast<int32_t>(wire32(p)));
         },
         [](const V& v) { return stringWithFormat("<OSCVal i %d>", v.intValue()); },
         [](const V& v) { return stringWithFormat("integer %d", v.intValue()); },
         [](const V& v) { return static_cast<double>(v.intValue()); }, nullptr},
        // OSCValFloat
        {nullptr,
         [](const V& v, W& tags, W& data) {
             tags.put8('f');
             data.put32(bitsOf<uint32_t>(v.floatValue()));
         },
         [](uint8_t, const uint8_t* p) {
             return make(OSCValFloat, std::in_place_type<float>, std::bit_cast<float>(wire32(p)));
         },
         [](const V& v) {
             return stringWithFormat("<OSCVal f %f>", static_cast<double>(v.floatValue()));
         },
         [](const V& v) {
             return stringWithFormat("float %f", static_cast<double>(v.floatValue()));
         },
         [](const V& v) { return static_cast<double>(v.floatValue()); },
         [](const V& a, const V& b) {
             return bitsOf<uint32_t>(a.floatValue()) == bitsOf<uint32_t>(b.floatValue());
         }},
        // OSCValString: the terminating NUL is part of the field, so "" still takes 4 bytes.
        {[](const V& v) { return round4(static_cast<int64_t>(v.stringValue().size()) + 1); },
         [](const V& v, W& tags, W& data) {
             const std::string& text = v.stringValue();
             tags.put8('s');
             data.putPadded(text.data(), text.size(), true);
         },
         nullptr, [](const V& v) { return "<OSCVal s " + v.stringValue() + ">"; },
         [](const V& v) { return "string \"" + v.stringValue() + "\""; }, zero,
         [](const V& a, const V& b) { return a.stringValue() == b.stringValue(); }},
        // OSCValTimeTag
        {nullptr,
         [](const V& v, W& tags, W& data) {
             tags.put8('t');
             data.put64(payloadOr<uint64_t>(v.value, 0));
         },
         [](uint8_t, const uint8_t* p) {
             return make(OSCValTimeTag, std::in_place_type<uint64_t>, wire64(p));
         },
         [](const V& v) {
             const OSCTimeValue time = v.timeValue();
             return stringWithFormat("<OSCVal t: %lld-%lld>", static_cast<long long>(time.seconds),
                                     static_cast<long long>(time.microSeconds));
         },
         [](const V& v) {
             const OSCTimeValue time = v.timeValue();
             return stringWithFormat("Time Tag %lld-%lld", static_cast<long long>(time.seconds),
                                     static_cast<long long>(time.microSeconds));
         },
         [](const V& v) { return v.dateValue(); }, nullptr},
        // OSCValInt64
        {nullptr,
         [](const V& v, W& tags, W& data) {
             tags.put8('h');
             data.put64(static_cast<uint64_t>(v.longLongValue()));
         },
         [](uint8_t, const uint8_t* p) {
             return make(OSCValInt64, std::in_place_type<int64_t>, static_cast<int64_t>(wire64(p)));
         },
         [](const V& v) {
             return stringWithFormat("<OSCVal h: %lld>", static_cast<long long>(v.longLongValue()));
         },
         [](const V& v) {
             return stringWithFormat("64-bit Integer %lld",
                                     static_cast<long long>(v.longLongValue()));
         },
         [](const V& v) { return static_cast<double>(v.longLongValue()); }, nullptr},
        // OSCValDouble
        {nullptr,
         [](const V& v, W& tags, W& data) {
             tags.put8('d');
             data.put64(bitsOf<uint64_t>(v.doubleValue()));
         },
         [](uint8_t, const uint8_t* p) {
             return make(OSCValDouble, std::in_place_type<double>, std::bit_cast<double>(wire64(p)));
         },
         [](const V& v) { return stringWithFormat("<OSCVal d: %f>", v.doubleValue()); },
         [](const V& v) { return stringWithFormat("64-bit Float %f", v.doubleValue()); },
         [](const V& v) { return v.doubleValue(); },
         [](const V& a, const V& b) {
             return bitsOf<uint64_t>(a.doubleValue()) == bitsOf<uint64_t>(b.doubleValue());
         }},
        // OSCValChar: a character travels as a 32-bit integer; its low byte is the character.
        {nullptr,
         [](const V& v, W& tags, W& data) {
             tags.put8('c');
             data.put32(static_cast<uint32_t>(static_cast<int32_t>(v.charValue())));
         },
         [](uint8_t, const uint8_t* p) { return createWithChar(static_cast<int8_t>(p[3])); },
         [](const V& v) { return "<OSCVal c: " + characterText(v.charValue()) + ">"; },
         [](const V& v) { return "Character \"" + characterText(v.charValue()) + "\""; },
         [](const V& v) { return static_cast<double>(v.charValue()); }, nullptr},
        // OSCValColor
        {nullptr,
         [](const V& v, W& tags, W& data) {
             const OSCColor& color = v.colorValue();
             tags.put8('r');
             if (uint8_t* out = data.take(4)) {
                 out[0] = colorByte(color.red);
                 out[1] = colorByte(color.green);
                 out[2] = colorByte(color.blue);
                 out[3] = colorByte(color.alpha);
             }
         },
         [](uint8_t, const uint8_t* p) {
             return createWithColor(
                 OSCColor{p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, p[3] / 255.0});
         },
         [](const V& v) { return "<OSCVal r " + v.colorValue().description() + ">"; },
         [](const V& v) { return "color " + v.colorValue().description(); },
         // The brightness of the colour; alpha says how opaque it is, not how bright.
         [](const V& v) {
             const OSCColor& color = v.colorValue();
             return (color.red + color.green + color.blue) / 3.0;
         },
         [](const V& a, const V& b) { return a.colorValue() == b.colorValue(); }},
        // OSCValMIDI
        {nullptr,
         [](const V& v, W& tags, W& data) {
             tags.put8('m');
             data.putBytes(v.midiBytes().data(), 4);
         },
         [](uint8_t, const uint8_t* p) { return createWithMIDIChannel(p[0], p[1], p[2], p[3]); },
         [](const V& v) {
             return stringWithFormat("<OSCVal m %d-%d-%d-%d>", v.midiPort(), v.midiStatus(),
                                     v.midiData1(), v.midiData2());
         },
         // The lone ">" is part of this text.
         [](const V& v) {
             return stringWithFormat("MIDI %d-%d-%d-%d>", v.midiPort(), v.midiStatus(),
                                     v.midiData1(), v.midiData2());
         },
         [](const V& v) {
             return midiNumber(static_cast<uint8_t>(v.midiStatus()), v.midiData1(), v.midiData2());
         },
         nullptr},
        // OSCValBool: no data, the tag is the value.
        {nullptr, [](const V& v, W& tags, W&) { tags.put8(v.boolValue() ? 'T' : 'F'); },
         [](uint8_t tag, const uint8_t*) { return createWithBool(tag == 'T'); },
         [](const V& v) { return std::string(v.boolValue() ? "<OSCVal T>" : "<OSCVal F>"); },
         [](const V& v) { return std::string(v.boolValue() ? "True" : "False"); },
         [](const V& v) { return v.boolValue() ? 1.0 : 0.0; }, nullptr},
        // OSCValNil
        {nullptr, [](const V&, W& tags, W&) { tags.put8('N'); },
         [](uint8_t, const uint8_t*) { return createWithNil(); },
         [](const V&) { return std::string("<OSCVal N>"); },
         [](const V&) { return std::string("nil"); }, zero, nullptr},
        // OSCValInfinity
        {nullptr, [](const V&, W& tags, W&) { tags.put8('I'); },
         [](uint8_t, const uint8_t*) { return createWithInfinity(); },
         [](const V&) { return std::string("<OSCVal I>"); },
         [](const V&) { return std::string("infinity"); }, one, nullptr},
        // OSCValArray: its elements' tags between brackets, their data one after the other.
        {[](const V& v) {
             int64_t total = 0;
             for (const auto& element : *v.valueArray()) total += element->bufferLength();
             return total;
         },
         [](const V& v, W& tags, W& data) {
             tags.put8('[');
             for (const auto& element : *v.valueArray()) element->writeTo(tags, data);
             tags.put8(']');
         },
         nullptr,
         [](const V& v) { return "<OSCVal [" + descriptionOfValues(*v.valueArray()) + "]>"; },
         [](const V& v) { return "array " + descriptionOfValues(*v.valueArray()); }, zero,
         [](const V& a, const V& b) {
             const auto& mine = *a.valueArray();
             const auto& theirs = *b.valueArray();
             if (mine.size() != theirs.size()) return false;
             for (size_t i = 0; i < mine.size(); ++i) {
                 if (!mine[i]->isEqual(*theirs[i])) return false;
             }
             return true;
         }},
        // OSCValBlob: a 32-bit length, then the bytes padded to a multiple of 4.
        {[](const V& v) {
             const auto& data = v.blobNSData();
             return 4 + round4(data ? static_cast<int64_t>(data->size()) : 0);
         },
         [](const V& v, W& tags, W& data) {
             const auto& blob = v.blobNSData();
             const size_t size = blob ? blob->size() : 0;
             tags.put8('b');
             data.put32(static_cast<uint32_t>(size));
             data.putPadded(size ? blob->data() : nullptr, size, false);
         },
         nullptr,
         [](const V& v) {
             return "<OSCVal b: " + (v.blobNSData() ? describeData(*v.blobNSData()) : "(null)") +
                    ">";
         },
         [](const V&) { return std::string("<Data Blob>"); }, one,
         [](const V& a, const V& b) {
             const auto& mine = a.blobNSData();
             const auto& theirs = b.blobNSData();
             return mine == theirs || (mine && theirs && *mine == *theirs);
         }},
        // OSCValSMPTE
        {nullptr,
         [](const V& v, W& tags, W& data) {
             tags.put8('E');
             data.put32(static_cast<uint32_t>(v.SMPTEValue()));
         },
         [](uint8_t, const uint8_t* p) {
             return createWithSMPTEChunk(static_cast<int32_t>(wire32(p)));
         },
         [](const V& v) { return stringWithFormat("<OSCVal E: %d>", v.SMPTEValue()); },
         [](const V& v) { return "<SMPTE " + v.SMPTEString().value_or("(null)") + ">"; },
         [](const V& v) {
             const SMPTEFields f = unpackSMPTE(v.SMPTEValue());
             const double rate = framesPerSecond(f.fps);
             const double frameSeconds = rate > 0.0 ? f.frames / rate : 0.0;
             return frameSeconds + f.seconds + f.minutes * 60.0 + f.hours * 3600.0 +
                    f.days * 86400.0;
         },
         nullptr},
    };
    static_assert(std::size(kRows) == OSCValSMPTE + 1);
    static_assert(std::size(kRows) == std::size(kOSCWireShapes));
    const auto index = static_cast<uint32_t>(type);
    return index < std::size(kRows) ? kRows[index] : kUnknown;
}

std::shared_ptr<OSCValue> OSCValue::readFixed(uint8_t tag, const uint8_t* data) {
    const TypeFacts& row = facts(typeForTag(tag));
    return row.read ? row.read(tag, data) : nullptr;
}

int64_t OSCValue::bufferLength() const {
    const int size = wireDataSize(valueType);
    return size >= 0 ? size : facts(valueType).variableLength(*this);
}

int64_t OSCValue::typeSignatureLength() const {
    if (valueType == OSCValUnknown) return 0;
    if (valueType != OSCValArray) return 1;
    int64_t total = 2;
    for (const auto& element : *valueArray()) total += element->typeSignatureLength();
    return total;
}

void OSCValue::writeTo(OSCByteWriter& tags, OSCByteWriter& data) const {
    facts(valueType).write(*this, tags, data);
}

void OSCValue::writeToBuffer(uint8_t* buffer, int32_t* typeOffset, int32_t* dataOffset) const {
    if (!buffer || !typeOffset || !dataOffset) return;
    // The caller's buffer has room for this value's tags and data at the two offsets.
    OSCByteWriter tags({buffer + *typeOffset, static_cast<size_t>(typeSignatureLength())});
    OSCByteWriter data({buffer + *dataOffset, static_cast<size_t>(bufferLength())});
    writeTo(tags, data);
    *typeOffset += static_cast<int32_t>(tags.position());
    *dataOffset += static_cast<int32_t>(data.position());
}

std::string OSCValue::description() const {
    return facts(valueType).describe(*this);
}

std::string OSCValue::lengthyDescription() const {
    return facts(valueType).lengthy(*this);
}

std::shared_ptr<OSCValue> OSCValue::copy() const {
    if (valueType == OSCValUnknown) return nullptr;
    if (valueType != OSCValArray) return make(valueType, value);
    auto duplicate = createArray();
    for (const auto& element : *valueArray()) duplicate->addValue(element->copy());
    return duplicate;
}

bool OSCValue::isEqual(const OSCValue& other) const {
    if (valueType != other.valueType) return false;
    const TypeFacts& row = facts(valueType);
    return row.same ? row.same(*this, other) : value == other.value;
}

double OSCValue::calculateDoubleValue() const {
    return facts(valueType).number(*this);
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
