#include "osc/OSCPOSIXRegExpHolder.h"

#include <algorithm>
#include <atomic>

#include "basics/Log.h"

namespace vitrine {

namespace {
std::atomic<std::uint64_t> compilations{0};
}  // namespace

namespace {

bool isPlainText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte != 0 && byte < 0x80;
    });
}

}  // namespace

std::optional<std::string> regexCString(std::string_view text) {
    if (!isPlainText(text)) return std::nullopt;
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
    if (!text || !isPlainText(*text)) return false;
#ifdef REG_STARTEND
    // The matcher is told where the text ends, so names are matched where they lie, without a
    // terminated copy. The text holds no NUL, so the answer is the one the copy would get.
    regmatch_t bounds{};
    bounds.rm_so = 0;
    bounds.rm_eo = static_cast<regoff_t>(text->size());
    return regexec(&regex, text->empty() ? "" : text->data(), 0, &bounds, REG_STARTEND) == 0;
#else
    return regexec(&regex, std::string(*text).c_str(), 0, nullptr, 0) == 0;
#endif
}

std::string OSCPOSIXRegExpHolder::description() const {
    return stringWithFormat("<OSCPOSIXRegExpHolder: %s>", source.c_str());
}

std::uint64_t OSCPOSIXRegExpHolder::compilationCount() {
    return compilations.load(std::memory_order_relaxed);
}

}  // namespace vitrine
