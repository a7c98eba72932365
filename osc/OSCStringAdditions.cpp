#include "osc/OSCStringAdditions.h"

#include <cstdio>
#include <cstring>

namespace vitrine {

std::optional<std::string> stringByDeletingLastAndAddingFirstSlash(std::string_view address) {
    if (address.empty()) return std::nullopt;
    if (address == "/") return std::string(address);
    const bool leadingSlash = address.front() == '/';
    const bool trailingSlash = address.back() == '/';
    if (trailingSlash) address.remove_suffix(1);
    std::string result;
    result.reserve(address.size() + 1);
    if (!leadingSlash) result.push_back('/');
    result.append(address);
    return result;
}

bool containsOSCWildCard(std::string_view address) {
    return address.find_first_of("[\\^$.|?*+(") != std::string_view::npos;
}

}  // namespace vitrine

// --- Text from raw bytes ---

namespace vitrine {

namespace {

// Length of a well-formed UTF-8 sequence starting at bytes[0] with `available` bytes left, or 0.
// The ranges of the second byte rule out overlong forms, surrogates and values above U+10FFFF.
size_t utf8SequenceLength(const uint8_t* bytes, size_t available) {
    const uint8_t lead = bytes[0];
    if (lead < 0x80) return 1;
    size_t length;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // below U+0800 would be overlong
        if (lead == 0xED) high = 0x9F;  // U+D800 to U+DFFF are surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // below U+10000 would be overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;  // a continuation byte, C0/C1 (always overlong) or F5 to FF
    }
    if (available < length) return 0;
    if (bytes[1] < low || bytes[1] > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (bytes[i] < 0x80 || bytes[i] > 0xBF) return 0;
    }
    return length;
}

}  // namespace

std::optional<std::string> stringWithBytes(const uint8_t* bytes, size_t length) {
    if (length == 0) return std::string();
    if (!bytes) return std::nullopt;
    for (size_t i = 0; i < length;) {
        const size_t step = utf8SequenceLength(bytes + i, length - i);
        if (step == 0) return std::nullopt;
        i += step;
    }
    return std::string(reinterpret_cast<const char*>(bytes), length);
}

std::string stringFromRawIPAddress(uint32_t rawAddress) {
    // Network order means the first octet is the first byte in memory, whatever the host's order.
    uint8_t octets[4];
    std::memcpy(octets, &rawAddress, sizeof octets);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
    return text;
}

}  // namespace vitrine
