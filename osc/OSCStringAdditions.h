#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vitrine {

// Address-string helpers shared by messages, nodes and the address space.
// Thread safety: pure functions; safe from any thread.

// Normalises an OSC address so that it begins with "/" and does not end with "/" (the root "/"
// stays as it is). Only one trailing slash is removed: "a//" gives "/a/". An empty text gives
// nothing, which callers treat as "no address".
std::optional<std::string> stringByDeletingLastAndAddingFirstSlash(std::string_view address);

// True when the text holds one of the pattern characters "[\^$.|?*+(". Braces, commas, "]", "!"
// and ")" only ever appear together with one of these in a usable pattern, so they do not count.
bool containsOSCWildCard(std::string_view address);

// --- Text from raw bytes ---

// Decodes exactly `length` bytes as UTF-8. Anything that is not well-formed UTF-8 gives nothing:
// overlong forms, UTF-16 surrogates, code points above U+10FFFF, stray continuation bytes and
// sequences cut short by the end. NUL bytes are characters like any other. No bytes (a null
// pointer with length 0) give the empty string.
std::optional<std::string> stringWithBytes(const uint8_t* bytes, size_t length);

// The dotted-decimal text of an IPv4 address held in network byte order, as the socket calls hand
// it over ("192.168.1.255").
std::string stringFromRawIPAddress(uint32_t rawAddress);

}  // namespace vitrine
