#include "osc/OSCPOSIXRegExpHolder.h"

#include <algorithm>
#include <atomic>

#include "basics/Log.h"

namespace vitrine {

namespace {
std::atomic<std::uint64_t> compilations{0};
}  // namespace

std::optional<std::string> regexCString(std::string_view text) {
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte != 0 && byte < 0x80;
    });
    if (!plain) return std::nullopt;
    return std::string(text);
}

std::shared_ptr<OSCPOSIXRegExpHolder> OSCPOSIXRegExpHolder::createWithString(
    std::optional<std::string_view> regexString) {
    if (!regexString) return nullptr;
    const auto cString = regexCString(*regexString);
    if (!cString) return nullptr;
    auto holder = std::make_shared<OSCPOSIXRegExpHolder>(Private{}, std::string(*regexString));
    compilations.fetch_add(1, std::memory_order_relaxed);
    const int code = regcomp(&holder->regex, cString->c_str(), REG_EXTENDED | REG_NOSUB);
    if (code != 0) {
        // A failed regcomp has already released what it allocated, so the holder must not free.
        Log::write("\t\terr %d while compiling regex in %s", code,
                   "-[OSCPOSIXRegExpHolder initWithString:]");
        return nullptr;
    }
    holder->compiled = true;
    return holder;
}

OSCPOSIXRegExpHolder::OSCPOSIXRegExpHolder(Private, std::string regexString)
    : source(std::move(regexString)) {}

OSCPOSIXRegExpHolder::~OSCPOSIXRegExpHolder() {
    if (compiled) regfree(&regex);
}

bool OSCPOSIXRegExpHolder::evalAgainstString(std::optional<std::string_view> text) const {
    if (!text) return false;
    const auto cString = regexCString(*text);
    if (!cString) return false;
    return regexec(&regex, cString->c_str(), 0, nullptr, 0) == 0;
}

std::string OSCPOSIXRegExpHolder::description() const {
    return stringWithFormat("<OSCPOSIXRegExpHolder: %s>", source.c_str());
}

std::uint64_t OSCPOSIXRegExpHolder::compilationCount() {
    return compilations.load(std::memory_order_relaxed);
}

}  // namespace vitrine
