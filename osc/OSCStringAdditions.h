#pragma once

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

}  // namespace vitrine
