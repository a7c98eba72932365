#include "osc/OSCStringAdditions.h"

#include <regex.h>

#include <cstdio>
#include <cstring>

#include "basics/Log.h"
#include "basics/MutLockDict.h"
#include "osc/OSCPOSIXRegExpHolder.h"

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

// --- Slashes and path components ---

namespace vitrine {

std::string trimFirstAndLastSlashes(std::string_view address) {
    if (address.size() == 1 && address.front() == '/') return std::string();
    if (address.size() >= 2) {
        if (address.front() == '/') address.remove_prefix(1);
        if (address.back() == '/') address.remove_suffix(1);
    }
    return std::string(address);
}

std::vector<std::string> pathComponents(std::string_view path) {
    std::vector<std::string> components;
    if (path.empty()) return components;
    if (path.front() == '/') components.emplace_back("/");
    size_t start = 0;
    while (start < path.size()) {
        start = path.find_first_not_of('/', start);
        if (start == std::string_view::npos) break;
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        components.emplace_back(path.substr(start, end - start));
        start = end;
    }
    // A text of slashes alone is the root, one component, not a leading and a trailing slash.
    if (path.back() == '/' && path.find_first_not_of('/') != std::string_view::npos) {
        components.emplace_back("/");
    }
    return components;
}

std::optional<std::string> stringByDeletingFirstPathComponent(std::string_view address) {
    const std::vector<std::string> components = pathComponents(trimFirstAndLastSlashes(address));
    if (components.empty()) return std::nullopt;
    std::string result;
    for (size_t i = 1; i < components.size(); ++i) {
        result.push_back('/');
        result.append(components[i]);
    }
    return result;
}

std::optional<std::string> firstPathComponent(std::string_view address) {
    std::vector<std::string> components = pathComponents(trimFirstAndLastSlashes(address));
    if (components.empty()) return std::nullopt;
    return std::move(components.front());
}

std::optional<std::string> stringBySanitizingForOSCPath(std::string_view address) {
    if (address.empty()) return std::nullopt;
    if (address.find("//") != std::string_view::npos) return std::nullopt;
    std::string_view body = address;
    const bool trailingSlash = body.back() == '/';
    if (trailingSlash) body.remove_suffix(1);
    if (address.front() != '/') return "/" + std::string(body);
    if (trailingSlash && body.empty()) return std::nullopt;
    return std::string(body);
}

}  // namespace vitrine

// --- Regular expressions ---

namespace vitrine {

namespace {

// The process-wide cache of compiled expressions, keyed by their source text. Entries are never
// removed: addresses use few distinct wildcard components and each is worth compiling only once.
// The function-local static is created once, under the language's own initialisation lock, and
// never destroyed, so that receiving threads still matching at exit never meet a dead cache.
MutLockDict<OSCPOSIXRegExpHolder>& regexCache() {
    static auto* const cache = new MutLockDict<OSCPOSIXRegExpHolder>();
    return *cache;
}

}  // namespace

bool predicateMatchAgainstRegex(std::string_view text, std::optional<std::string_view> regex) {
    if (!regex || regex->empty()) return false;
    if (regex->find('\0') != std::string_view::npos) return false;
    if (text.find('\0') != std::string_view::npos) return false;
    regex_t compiled;
    if (regcomp(&compiled, std::string(*regex).c_str(), REG_EXTENDED) != 0) return false;
    // The matcher answers the leftmost-longest match, so the whole text matches exactly when that
    // match starts at the first byte and ends at the last.
    const std::string subject(text);
    regmatch_t match{};
    const bool whole = regexec(&compiled, subject.c_str(), 1, &match, 0) == 0 && match.rm_so == 0 &&
                       static_cast<size_t>(match.rm_eo) == subject.size();
    regfree(&compiled);
    return whole;
}

bool posixMatchAgainstSlowRegex(std::string_view text, std::optional<std::string_view> regex) {
    if (!regex) return false;
    const auto expression = regexCString(*regex);
    if (!expression) return false;
    regex_t compiled;
    const int compileCode = regcomp(&compiled, expression->c_str(), REG_EXTENDED | REG_NOSUB);
    if (compileCode != 0) {
        Log::write("\t\terr %d while compiling regex", compileCode);
        return false;
    }
    bool matched = false;
    if (const auto subject = regexCString(text)) {
        const int code = regexec(&compiled, subject->c_str(), 0, nullptr, 0);
        if (code == 0) {
            matched = true;
        } else {
            Log::write("\t\terr %d while executing regex", code);
        }
    }
    regfree(&compiled);
    return matched;
}

bool posixMatchAgainstFastRegex(std::string_view text, std::optional<std::string_view> regex) {
    if (!regex) return false;
    const auto holder = cachedPOSIXRegExp(*regex);
    return holder && holder->evalAgainstString(text);
}

std::shared_ptr<OSCPOSIXRegExpHolder> cachedPOSIXRegExp(std::string_view regex) {
    MutLockDict<OSCPOSIXRegExpHolder>& cache = regexCache();
    const std::string key(regex);
    if (auto holder = cache.lockObjectForKey(key)) return holder;
    auto holder = OSCPOSIXRegExpHolder::createWithString(key);
    if (!holder) return nullptr;
    // Two threads meeting a new expression at once may both compile it; the later store wins and
    // the earlier holder lives on only as long as its caller keeps it.
    cache.lockSetObject(holder, key);
    return holder;
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
