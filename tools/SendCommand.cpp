#include "tools/SendCommand.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "osc/OSCBundle.h"
#include "osc/OSCInPort.h"
#include "osc/OSCMessage.h"
#include "osc/OSCOutPort.h"
#include "osc/OSCStringAdditions.h"
#include "tools/ToolArguments.h"

namespace vitrine::tools {

namespace {

constexpr const char* shortUsage =
    "Usage: osc-send [--bundle] [--time WHEN] HOST PORT ADDRESS [TYPES [ARGS...]]...\n"
    "osc-send --help explains the types and their arguments.\n";

constexpr const char* longUsage =
    "Usage: osc-send [--bundle] [--time WHEN] HOST PORT ADDRESS [TYPES [ARGS...]]...\n"
    "Sends one OSC message as one UDP datagram to HOST (an IPv4 address, or localhost) on\n"
    "PORT (1024 to 65535). TYPES is the message's type string without its comma; each type\n"
    "takes the next argument word, except T F N I [ ] which take none:\n"
    "  i  32-bit integer                 42, -1\n"
    "  h  64-bit integer                 9000000000\n"
    "  f  32-bit float                   0.5, -1e3, inf\n"
    "  d  64-bit float                   3.141592653589793\n"
    "  s  string (UTF-8)                 hello, \"two words\"\n"
    "  t  time tag, a WHEN as below      now, +1.5, 2026-12-07T06:00:00.25Z\n"
    "  c  one character                  A\n"
    "  m  MIDI, 8 hex digits             00903C7F (port, status, data 1, data 2)\n"
    "  r  colour, 8 hex digits (RGBA)    FF7F00FF\n"
    "     or four numbers 0 to 1         1,0.5,0,1\n"
    "  b  blob, hex digits in pairs      DEADBEEF, or \"\" for an empty blob\n"
    "  T  true    F  false    N  nil    I  infinity\n"
    "  [  ]  an array around the types between them: /a [ii]f 1 2 0.5\n"
    "\n"
    "--bundle puts several messages into one bundle: after each message's arguments the next\n"
    "word beginning with / starts the next message, e.g.\n"
    "  osc-send --bundle 127.0.0.1 9000 /list iii 1 2 3 /switch i 1 /is\n"
    "--time WHEN gives the bundle a time tag (and sends even a single message in a bundle);\n"
    "without it the bundle means \"immediately\". WHEN is one of\n"
    "  now                           the current time\n"
    "  +SECONDS                      that long from now\n"
    "  YYYY-MM-DDTHH:MM:SS[.frac]Z   a UTC date\n"
    "  SECONDS                       seconds since 2001-01-01 00:00:00 UTC\n"
    "Time tags count seconds from 2001-01-01 UTC and whole microseconds, not NTP's 1900 and\n"
    "1/2^32 units; peers must share that convention.\n"
    "\n"
    "Exit status: 0 when sent; 2 for a bad host, port, address, type string or argument, and\n"
    "then nothing is sent; 1 when the system refuses the socket.\n";

// The sending ports refuse the privileged ports.
constexpr unsigned kLowestPort = 1024;

std::string quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

template <typename Number>
bool readNumber(std::string_view text, Number& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

bool readHexByte(std::string_view two, uint8_t& byte) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(two.data(), two.data() + two.size(), value, 16);
    if (two.size() != 2 || error != std::errc{} || end != two.data() + two.size()) return false;
    byte = static_cast<uint8_t>(value);
    return true;
}

std::optional<std::vector<uint8_t>> hexDigits(std::string_view text) {
    if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> out(text.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        if (!readHexByte(text.substr(2 * i, 2), out[i])) return std::nullopt;
    }
    return out;
}

std::optional<OSCColor> colorFrom(std::string_view text) {
    if (text.find(',') == std::string_view::npos) {
        const auto bytes = hexDigits(text);
        if (!bytes || bytes->size() != 4) return std::nullopt;
        // The same reading as the decoder's, so a colour typed in hex goes out as those bytes.
        return OSCColor{(*bytes)[0] / 255.0, (*bytes)[1] / 255.0, (*bytes)[2] / 255.0,
                        (*bytes)[3] / 255.0};
    }
    double parts[4];
    for (int i = 0; i < 4; ++i) {
        const size_t comma = text.find(',');
        if ((comma == std::string_view::npos) != (i == 3)) return std::nullopt;
        if (!readNumber(text.substr(0, comma), parts[i]) || !(parts[i] >= 0.0 && parts[i] <= 1.0)) {
            return std::nullopt;
        }
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    }
    return OSCColor{parts[0], parts[1], parts[2], parts[3]};
}

// What each argument-taking type expects, for the error line.
const char* expected(char tag) {
    switch (tag) {
        case 'i':
            return "a 32-bit integer";
        case 'h':
            return "a 64-bit integer";
        case 'f':
            return "a 32-bit float";
        case 'd':
            return "a 64-bit float";
        case 's':
            return "UTF-8 text";
        case 't':
            return "now, +SECONDS, a UTC date YYYY-MM-DDTHH:MM:SS[.frac]Z or SECONDS";
        case 'c':
            return "one character";
        case 'm':
            return "8 hex digits";
        case 'r':
            return "8 hex digits or four numbers 0 to 1 such as 1,0.5,0,1";
        case 'b':
            return "hex digits in pairs";
        default:
            return "";
    }
}

// The value one argument word gives for one tag, or nothing when the word does not read whole.
std::shared_ptr<OSCValue> valueFor(char tag, std::string_view word, Date now) {
    switch (tag) {
        case 'i': {
            int32_t n = 0;
            return readNumber(word, n) ? OSCValue::createWithInt(n) : nullptr;
        }
        case 'h': {
            int64_t n = 0;
            return readNumber(word, n) ? OSCValue::createWithLongLong(n) : nullptr;
        }
        case 'f': {
            float n = 0;
            return readNumber(word, n) ? OSCValue::createWithFloat(n) : nullptr;
        }
        case 'd': {
            double n = 0;
            return readNumber(word, n) ? OSCValue::createWithDouble(n) : nullptr;
        }
        case 's': {
            const auto* bytes = reinterpret_cast<const uint8_t*>(word.data());
            const auto text = stringWithBytes(bytes, word.size());
            return text ? OSCValue::createWithString(*text) : nullptr;
        }
        case 't': {
            const auto date = parseDate(word, now);
            return date ? OSCValue::createWithDate(*date) : nullptr;
        }
        case 'c':
            return word.size() == 1 ? OSCValue::createWithChar(static_cast<int8_t>(word[0]))
                                    : nullptr;
        case 'm': {
            const auto bytes = hexDigits(word);
            if (!bytes || bytes->size() != 4) return nullptr;
            return OSCValue::createWithMIDIChannel((*bytes)[0], (*bytes)[1], (*bytes)[2],
                                                   (*bytes)[3]);
        }
        case 'r': {
            const auto color = colorFrom(word);
            return color ? OSCValue::createWithColor(*color) : nullptr;
        }
        case 'b': {
            auto bytes = hexDigits(word);
            if (!bytes) return nullptr;
            return OSCValue::createWithNSDataBlob(
                std::make_shared<const OSCData>(std::move(*bytes)));
        }
        default:
            return nullptr;
    }
}

bool takesArgument(char tag) {
    return std::string_view("ihfdstcmrb").find(tag) != std::string_view::npos;
}

// Reads one message: ADDRESS, then TYPES and their arguments when present. `next` moves past the
// words used. Gives the reason for refusing it, or nothing.
std::optional<std::string> readMessage(const std::vector<std::string_view>& words, size_t& next,
                                       bool bundled, Date now,
                                       std::shared_ptr<OSCMessage>& message) {
    const std::string_view address = words[next++];
    if (!address.starts_with('/')) {
        return "bad address " + quoted(address) + ": an OSC address begins with /";
    }
    if (!stringWithBytes(reinterpret_cast<const uint8_t*>(address.data()), address.size())) {
        return "bad address " + quoted(address) + ": not valid UTF-8";
    }
    // The address goes out exactly as typed ("/a/" and "/a/#documentation" included), so the
    // tool can put any address on the wire.
    message = OSCMessage::createFast(std::string(address), containsOSCWildCard(address),
                                     OSCMessageTypeControl, OSCQueryTypeUnknown, 0, 0);
    if (next == words.size() || (bundled && words[next].starts_with('/'))) return std::nullopt;

    const std::string_view types = words[next++];
    const std::string typeError = "bad type string " + quoted(types) + ": ";
    size_t needed = 0;
    int depth = 0;
    int deepest = 0;
    for (const char tag : types) {
        if (tag == '[') {
            deepest = std::max(deepest, ++depth);
        } else if (tag == ']') {
            if (--depth < 0) return typeError + "']' without '['";
        } else if (takesArgument(tag)) {
            ++needed;
        } else if (std::string_view("TFNI").find(tag) == std::string_view::npos) {
            return typeError + "unknown type " + quoted(std::string(1, tag));
        }
    }
    if (depth > 0) return typeError + "'[' without ']'";
    if (deepest > OSCMessage::kMaxArrayDepth) {
        // Receivers of this library drop such a message whole.
        return typeError + "arrays nested more than " + std::to_string(OSCMessage::kMaxArrayDepth) +
               " deep";
    }
    const size_t given = std::min(needed, words.size() - next);
    if (given < needed) {
        return "type string " + quoted(types) + " needs " + std::to_string(needed) +
               (needed == 1 ? " argument, " : " arguments, ") + std::to_string(given) + " given";
    }

    // Values go into the innermost open array, or the message.
    std::vector<std::shared_ptr<OSCValue>> open;
    for (const char tag : types) {
        std::shared_ptr<OSCValue> value;
        if (tag == '[') {
            open.push_back(OSCValue::createArray());
            continue;
        }
        if (tag == ']') {
            value = open.back();
            open.pop_back();
        } else if (takesArgument(tag)) {
            const std::string_view word = words[next++];
            value = valueFor(tag, word, now);
            if (!value) {
                return "bad argument " + quoted(word) + " for type " + quoted(std::string(1, tag)) +
                       ": give " + expected(tag);
            }
        } else {
            value = tag == 'T'   ? OSCValue::createWithBool(true)
                    : tag == 'F' ? OSCValue::createWithBool(false)
                    : tag == 'N' ? OSCValue::createWithNil()
                                 : OSCValue::createWithInfinity();
        }
        if (open.empty()) {
            message->addValue(value);
        } else {
            open.back()->addValue(value);
        }
    }
    return std::nullopt;
}

SendCommand refused(std::string error) {
    SendCommand command;
    command.outcome = SendCommand::Outcome::usageError;
    command.error = std::move(error);
    return command;
}

}  // namespace

SendCommand SendCommand::parse(const std::vector<std::string_view>& words, Date now) {
    bool bundled = false;
    std::optional<Date> timeTag;
    size_t next = 0;
    for (; next < words.size() && words[next].starts_with("--"); ++next) {
        const std::string_view option = words[next];
        if (option == "--help") {
            SendCommand help;
            help.outcome = Outcome::help;
            return help;
        }
        if (option == "--bundle") {
            bundled = true;
        } else if (option == "--time") {
            if (next + 1 == words.size()) return refused("--time needs a WHEN");
            timeTag = parseDate(words[++next], now);
            if (!timeTag) {
                return refused("bad time " + quoted(words[next]) + ": give " + expected('t'));
            }
        } else {
            return refused("unknown option " + quoted(option));
        }
    }
    if (words.size() - next < 3) return refused("HOST, PORT and ADDRESS are needed");

    SendCommand command;
    const auto host = parseHost(words[next]);
    if (!host) {
        return refused("bad host " + quoted(words[next]) +
                       ": give an IPv4 address such as 127.0.0.1, or localhost");
    }
    const auto port = parsePort(words[next + 1]);
    if (!port || *port < kLowestPort) {
        return refused("bad port " + quoted(words[next + 1]) + ": give a number from " +
                       std::to_string(kLowestPort) + " to 65535");
    }
    next += 2;

    std::vector<std::shared_ptr<OSCMessage>> messages;
    while (next < words.size()) {
        if (!messages.empty() && !bundled) {
            return refused("unexpected argument " + quoted(words[next]) +
                           " after the type string's arguments");
        }
        if (!messages.empty() && !words[next].starts_with('/')) {
            return refused("unexpected argument " + quoted(words[next]) +
                           ": the next message's address begins with /");
        }
        std::shared_ptr<OSCMessage> message;
        if (auto error = readMessage(words, next, bundled, now, message)) {
            return refused(std::move(*error));
        }
        messages.push_back(std::move(message));
    }

    if (bundled || timeTag) {
        auto bundle = OSCBundle::create();
        bundle->setTimeTag(timeTag);
        for (const auto& message : messages) bundle->addElement(message);
        command.content = bundle;
    } else {
        command.content = messages.front();
    }
    const int64_t length = command.content->bufferLength();
    if (length > OSCInPort::kBufferSize) {
        return refused("the datagram would be " + std::to_string(length) +
                       " bytes, more than the " + std::to_string(OSCInPort::kBufferSize) +
                       " a receiving port takes");
    }
    command.outcome = Outcome::send;
    command.host = *host;
    command.port = *port;
    return command;
}

const char* SendCommand::usage() {
    return longUsage;
}

int runOscSend(const std::vector<std::string_view>& words, std::FILE* out, std::FILE* err) {
    const SendCommand command = SendCommand::parse(words, dateNow());
    if (command.outcome == SendCommand::Outcome::help) {
        std::fputs(SendCommand::usage(), out);
        return 0;
    }
    if (command.outcome == SendCommand::Outcome::usageError) {
        std::fprintf(err, "osc-send: %s\n%s", command.error.c_str(), shortUsage);
        return 2;
    }
    const auto port = OSCOutPort::createWithAddress(command.host, command.port);
    if (!port) {
        std::fprintf(err, "osc-send: cannot open a UDP socket\n");
        return 1;
    }
    if (const auto bundle = std::dynamic_pointer_cast<OSCBundle>(command.content)) {
        port->sendThisBundle(bundle);
    } else {
        port->sendThisMessage(std::static_pointer_cast<OSCMessage>(command.content));
    }
    return 0;
}

}  // namespace vitrine::tools
