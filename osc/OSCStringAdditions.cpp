#include "osc/OSCStringAdditions.h"

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
