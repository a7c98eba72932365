#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vitrine {

class OSCPOSIXRegExpHolder;

// Address-string helpers shared by messages, nodes and the address space.
// Thread safety: pure functions; safe from any thread.

// Normalises an OSC address so that it begins with "/" and does not end with "/" (the root "/"
// stays as it is). Only one trailing slash is removed: "a//" gives "/a/". An empty text gives
// nothing, which callers treat as "no address".
std::optional<std::string> stringByDeletingLastAndAddingFirstSlash(std::string_view address);

// True when the text holds one of the pattern characters "[\^$.|?*+(". Braces, commas, "]", "!"
// and ")" only ever appear together with one of these in a usable pattern, so they do not count.
bool containsOSCWildCard(std::string_view address);

// --- Slashes and path components ---

// Takes at most one "/" off each end: "/a/b/" gives "a/b", "//" gives "", "///" gives "/" and
// "//a//" gives "/a/". Texts without a slash at either end come back unchanged.
std::string trimFirstAndLastSlashes(std::string_view address);

// Splits at "/" the way file paths are split: runs of slashes separate like one and give no empty
// components, a leading slash gives a first component "/", a trailing one a last component "/"
// ("/a//b/" gives "/", "a", "b", "/"; a text of slashes alone gives just "/"). The empty text has
// no components.
std::vector<std::string> pathComponents(std::string_view path);

// The address without its first component, each remaining component preceded by "/":
// "/a/b/c" gives "/b/c", "/a" gives "". Nothing when the trimmed address has no components
// (the empty text, "/" and "//").
std::optional<std::string> stringByDeletingFirstPathComponent(std::string_view address);

// "/a/b" gives "a"; nothing when the trimmed address has no components.
std::optional<std::string> firstPathComponent(std::string_view address);

// The canonical form of an address (leading "/", no trailing "/"), or nothing when the text
// cannot be one: empty, holding "//" anywhere, or "/" alone. Stricter than
// stringByDeletingLastAndAddingFirstSlash, which accepts all of these.
std::optional<std::string> stringBySanitizingForOSCPath(std::string_view address);

// --- Regular expressions ---

// True when the whole text matches the extended regular expression (anchored at both ends).
// No expression, an empty or invalid one, and texts or expressions holding a NUL give false.
bool predicateMatchAgainstRegex(std::string_view text, std::optional<std::string_view> regex);

// True when the POSIX extended expression matches somewhere in the text (unanchored). Compiles
// and frees the expression on every call. Failures are logged: "\t\terr %d while compiling
// regex", and "\t\terr %d while executing regex", the latter also for a plain no-match. No
// expression, or an expression or text that is not plain ASCII, gives false.
bool posixMatchAgainstSlowRegex(std::string_view text, std::optional<std::string_view> regex);

// The same answer through the process-wide cache of compiled expressions: each expression that
// compiles is compiled once and kept for the life of the process; one that does not compile is
// not cached, so it is compiled, and its error logged, again on every call. A no-match is not
// logged. This is how node names are matched against wildcard address components.
// Thread safety: may be called from any number of threads at once.
bool posixMatchAgainstFastRegex(std::string_view text, std::optional<std::string_view> regex);

// The compiled expression behind posixMatchAgainstFastRegex, for callers that match many texts
// against one expression: one cache lookup instead of one per text. Nothing (and, as there, the
// compiler's error logged, again on every call) for an expression that does not compile.
// Thread safety: may be called from any number of threads at once.
std::shared_ptr<OSCPOSIXRegExpHolder> cachedPOSIXRegExp(std::string_view regex);

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
