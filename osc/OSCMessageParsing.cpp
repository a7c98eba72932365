// Decoding of received messages: OSCMessage::parseRawBuffer. Kept apart from the encoder because
// it is the one place where bytes from the network are read, and every read goes through
// OSCByteReader's bounds checks.

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "basics/Log.h"
#include "osc/OSCByteReader.h"
#include "osc/OSCMessage.h"
#include "osc/OSCStringAdditions.h"

namespace vitrine {

namespace {

constexpr const char* kParseMethod = "+[OSCMessage parseRawBuffer:ofMaxLength:fromAddr:port:]";
constexpr size_t kMostValuesReservedAtOnce = 64;

// The address scan looks at every byte: one lookup each rather than a search of the wildcard set,
// with the table made from the same test the rest of the library uses.
const std::array<bool, 256> kWildcardBytes = [] {
    std::array<bool, 256> table{};
    for (size_t byte = 0; byte < table.size(); ++byte) {
        const auto character = static_cast<char>(byte);
        table[byte] = containsOSCWildCard(std::string_view(&character, 1));
    }
    return table;
}();

bool isWildcardByte(uint8_t byte) {
    return kWildcardBytes[byte];
}

// The query suffixes that follow "/" in an address, chosen by their second character.
struct QuerySuffix {
    char key;
    std::string_view text;
    OSCQueryType type;
};
constexpr QuerySuffix kQuerySuffixes[] = {
    {'c', "#current-value", OSCQueryTypeCurrentValue},
    {'d', "#documentation", OSCQueryTypeDocumentation},
    {'r', "#return-type-string", OSCQueryTypeReturnTypeString},
    {'t', "#type-signature", OSCQueryTypeTypeSignature},
};

// Raw bytes made readable for a log line: UTF-8 as it is, anything else byte by byte as \xNN.
// Only the first kLoggedBytes are shown, then how long the whole was, so that a datagram cannot
// make a log line much longer than this.
constexpr size_t kLoggedBytes = 48;
std::string loggableText(std::span<const uint8_t> whole) {
    const auto bytes = whole.first(std::min(whole.size(), kLoggedBytes));
    std::string text;
    if (auto decoded = stringWithBytes(bytes.data(), bytes.size())) {
        text = std::move(*decoded);
    } else {
        for (uint8_t byte : bytes) {
            if (byte < 0x80) {
                text += static_cast<char>(byte);
            } else {
                text += stringWithFormat("\\x%02X", byte);
            }
        }
    }
    if (bytes.size() < whole.size()) text += stringWithFormat("... (%zu bytes)", whole.size());
    return text;
}

// What the address scan learns from the first field of a message.
struct AddressScan {
    OSCMessageType messageType = OSCMessageTypeControl;
    OSCQueryType queryType = OSCQueryTypeUnknown;
    std::optional<std::string> address;
    bool wildcards = false;
    std::optional<size_t> endIndex;
    bool undecodable = false;  // the address bytes are not UTF-8
};

class AddressScanner {
public:
    explicit AddressScanner(const OSCByteReader& in) : in(in) {}

    AddressScan scan() {
        for (size_t i = 0; i < in.size(); ++i) {
            const uint8_t byte = in.data()[i];
            if (isWildcardByte(byte)) {
                result.wildcards = true;
            } else if (byte == '#' && i == 0) {
                if (scanReplyOrError()) break;
            } else if (byte == '#' && in.data()[i - 1] == '/') {
                if (scanQuerySuffix(i)) break;
            } else if (byte == 0) {
                finishAtNul(i);
                break;
            }
        }
        return result;
    }

private:
    bool scanReplyOrError() {
        if (in.startsWith(0, "#reply")) {
            result.messageType = OSCMessageTypeReply;
        } else if (in.startsWith(0, "#error")) {
            result.messageType = OSCMessageTypeError;
        } else {
            result.messageType = OSCMessageTypeUnknown;
            return false;
        }
        result.endIndex = 5;
        return true;
    }

    // `hash` is the index of a "#" that follows a "/". An unknown suffix leaves the "#" an ordinary
    // byte of the address of a query of unknown type.
    bool scanQuerySuffix(size_t hash) {
        result.messageType = OSCMessageTypeQuery;
        result.queryType = OSCQueryTypeUnknown;
        const auto key = in.byteAt(hash + 1);
        for (const QuerySuffix& suffix : kQuerySuffixes) {
            if (key != static_cast<uint8_t>(suffix.key) || !in.startsWith(hash, suffix.text))
                continue;
            result.queryType = suffix.type;
            setAddress(std::max<size_t>(hash - 1, 1));
            result.endIndex = hash + suffix.text.size();
            return true;
        }
        return false;
    }

    void finishAtNul(size_t nul) {
        result.endIndex = nul;
        if (result.messageType == OSCMessageTypeUnknown) {
            // An address that begins with "#" but is no reply or error: the message goes on without
            // an address, so that the values can still be looked at.
            Log::write("\t\tfinished parsing malformed query %s in %s",
                       loggableText(in.subspan(0, nul)).c_str(), kParseMethod);
        } else if (nul > 0 && in.data()[nul - 1] == '/') {
            result.messageType = OSCMessageTypeQuery;
            result.queryType = OSCQueryTypeNamespaceExploration;
            if (nul == 1) {
                result.address.emplace(1, '/');
            } else {
                setAddress(nul - 1);
            }
        } else {
            setAddress(nul);
        }
    }

    // The first `count` bytes as the address, led by a slash when the datagram's first byte is
    // not one.
    void setAddress(size_t count) {
        const auto bytes = in.subspan(0, count);
        auto text = stringWithBytes(bytes.data(), bytes.size());
        if (!text) {
            result.undecodable = true;
            return;
        }
        if (in.byteAt(0) != uint8_t{'/'}) text->insert(0, 1, '/');
        result.address = std::move(text);
    }

    const OSCByteReader& in;
    AddressScan result;
};

// Whether a value of this tag takes data bytes (at least four, then).
bool carriesData(uint8_t tag) {
    const OSCValueType type = OSCValue::typeForTag(tag);
    return type != OSCValArray && OSCValue::wireDataSize(type) != 0;
}

// The walk over the type tags: decodes each argument at the data position and appends it to the
// innermost open array, or to the message.
class ArgumentWalker {
public:
    ArgumentWalker(const OSCByteReader& in, OSCMessage& message, size_t dataPosition)
        : in(in), message(message), position(dataPosition) {}

    // False, with the reason logged, when the message must be dropped.
    bool walk(size_t firstTag, size_t tagEnd) {
        // Room for every value the tags can make from the data that is there, in one block.
        size_t withData = 0;
        for (size_t t = firstTag; t < tagEnd; ++t) {
            withData += carriesData(in.data()[t]);
        }
        const OSCValue::Batch batch(std::min(withData, in.remaining(position) / 4));
        for (size_t t = firstTag; t < tagEnd; ++t) {
            switch (takeTag(in.data()[t])) {
                case Step::ok:
                    break;
                case Step::truncated:
                    Log::write("\t\terr: msg argument data runs past the end");
                    return false;
                case Step::tooDeep:
                    Log::write("\t\terr: msg arrays nested too deeply");
                    return false;
            }
        }
        // Arrays still open here are dropped with their contents.
        return true;
    }

private:
    enum class Step { ok, truncated, tooDeep };

    void append(std::shared_ptr<OSCValue> value) {
        if (open.empty()) {
            message.addValue(std::move(value));
        } else {
            open.back()->addValue(std::move(value));
        }
    }

    Step takeTag(uint8_t tag) {
        switch (const OSCValueType type = OSCValue::typeForTag(tag)) {
            case OSCValString:
                return string();
            case OSCValBlob:
                return blob();
            case OSCValArray:
                if (open.size() >= OSCMessage::kMaxArrayDepth) return Step::tooDeep;
                open.push_back(OSCValue::createArray());
                return Step::ok;
            case OSCValUnknown:
                if (tag == ']' && !open.empty()) {
                    const auto closed = std::move(open.back());
                    open.pop_back();
                    append(closed);
                }
                // Unknown tags carry no data we could skip, so none is assumed.
                return Step::ok;
            default: {
                const auto width = static_cast<size_t>(OSCValue::wireDataSize(type));
                if (!in.has(position, width)) return Step::truncated;
                append(OSCValue::readFixed(tag, in.data() + position));
                position += width;
                return Step::ok;
            }
        }
    }

    Step string() {
        const auto nul = in.findNul(position);
        if (!nul) return Step::truncated;
        const auto bytes = in.subspan(position, *nul - position);
        // Text that is not UTF-8 loses only this value: the constructor logs its own line.
        append(OSCValue::createWithString(stringWithBytes(bytes.data(), bytes.size())));
        position = OSCByteReader::nextMultipleOf4Above(*nul);
        return Step::ok;
    }

    Step blob() {
        const auto size = in.readUInt32(position);
        // The length is checked against what is left before anything is added to it.
        if (!size || *size > in.remaining(position + 4)) return Step::truncated;
        const auto bytes = in.subspan(position + 4, *size);
        append(OSCValue::createWithNSDataBlob(
            std::make_shared<const OSCData>(bytes.begin(), bytes.end())));
        position = OSCByteReader::roundUp4(position + 4 + *size);
        return Step::ok;
    }

    const OSCByteReader& in;
    OSCMessage& message;
    size_t position;
    std::vector<std::shared_ptr<OSCValue>> open;
};

std::shared_ptr<OSCMessage> parse(const OSCByteReader& in, uint32_t txAddress, uint16_t txPort) {
    AddressScan scan = AddressScanner(in).scan();
    if (scan.undecodable) {
        Log::write("\t\terr: msg address is not valid UTF-8");
        return nullptr;
    }

    const size_t tagStart = scan.endIndex ? OSCByteReader::nextMultipleOf4Above(*scan.endIndex) : 4;
    if (in.byteAt(tagStart) != uint8_t{','}) {
        Log::write("\t\terr: msg type tag string not present");
        return nullptr;
    }
    const auto tagEnd = in.findNul(tagStart + 1);
    if (!tagEnd) {
        Log::write("\t\terr: couldn't find the msg type end index");
        return nullptr;
    }

    auto message = OSCMessage::createFast(std::move(scan.address), scan.wildcards, scan.messageType,
                                          scan.queryType, txAddress, txPort);
    if (!message) {
        Log::write("\t\terr: msg was nil %s", kParseMethod);
        return nullptr;
    }
    // One list of the right size for the usual message; a long tag string (which may be mostly
    // arrays or tags without data) still lets the list grow as values actually arrive.
    message->reserveValues(
        static_cast<int32_t>(std::min<size_t>(*tagEnd - tagStart - 1, kMostValuesReservedAtOnce)));
    ArgumentWalker walker(in, *message, OSCByteReader::nextMultipleOf4Above(*tagEnd));
    if (!walker.walk(tagStart + 1, *tagEnd)) return nullptr;
    return message;
}

}  // namespace

std::shared_ptr<OSCMessage> OSCMessage::parseRawBuffer(const uint8_t* buffer, int32_t length,
                                                       uint32_t txAddress, uint16_t txPort) {
    if (!buffer || length == 0) return nullptr;
    if (length < 0) {
        Log::write("\t\terr: msg type tag string not present");
        return nullptr;
    }
    try {
        return parse(OSCByteReader({buffer, static_cast<size_t>(length)}), txAddress, txPort);
    } catch (const std::bad_alloc&) {
        // Whatever was being built when memory ran out, the message cannot be had.
        Log::write("\t\terr: msg was nil %s", kParseMethod);
        return nullptr;
    }
}

}  // namespace vitrine
