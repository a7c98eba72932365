#pragma once

#include <regex.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "basics/XJObject.h"

namespace vitrine {

// One compiled POSIX extended regular expression (REG_EXTENDED | REG_NOSUB: only the yes/no
// answer is ever used), freed with the holder. The regex cache keeps one per expression.
// Thread safety: immutable once created; evalAgainstString may run on many threads at once, the
// C library's matcher does not change the compiled expression.
class OSCPOSIXRegExpHolder : public XJObject {
    struct Private {};

public:
    // Nothing for no expression, an expression that is not plain ASCII (nothing logged) or one
    // that does not compile (logged as "\t\terr %d while compiling regex in %s").
    static std::shared_ptr<OSCPOSIXRegExpHolder> createWithString(
        std::optional<std::string_view> regexString);

    OSCPOSIXRegExpHolder(Private, std::string regexString);
    ~OSCPOSIXRegExpHolder() override;
    OSCPOSIXRegExpHolder(const OSCPOSIXRegExpHolder&) = delete;
    OSCPOSIXRegExpHolder& operator=(const OSCPOSIXRegExpHolder&) = delete;

    // True when the expression matches somewhere in the text; false for no text or a text that is
    // not plain ASCII. Nothing is logged.
    bool evalAgainstString(std::optional<std::string_view> text) const;

    const std::string& regexString() const { return source; }

    std::string description() const override;

    // How many times holders have called the compiler in this process, failures included. Lets
    // tests see that the cache compiles an expression once.
    static std::uint64_t compilationCount();

private:
    std::string source;
    // Compiled in place: POSIX does not promise that a regex_t survives being copied.
    regex_t regex{};
    bool compiled = false;
};

// The form of a text that the C regex functions can take: plain ASCII (as the addresses and
// node names of OSC are) and no NUL, which would silently cut the text short.
std::optional<std::string> regexCString(std::string_view text);

}  // namespace vitrine
