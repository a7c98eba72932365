#pragma once

// What the command-line programs share: reading ports, and waiting for Ctrl-C.

#include <arpa/inet.h>
#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace vitrine::tools {

// 1 to 65535 (0 too when allowed); nothing for anything else.
inline std::optional<uint16_t> parsePort(std::string_view text, bool allowZero = false) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > 65535)
        return std::nullopt;
    if (value == 0 && !allowZero) return std::nullopt;
    return static_cast<uint16_t>(value);
}

// Blocks SIGINT and SIGTERM in this thread and every thread it starts afterwards, so that
// waitForStopSignal() is the one place they arrive. Call it first in main.
inline sigset_t blockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

inline void waitForStopSignal(const sigset_t& stopSignals) {
    int received = 0;
    sigwait(&stopSignals, &received);
}

}  // namespace vitrine::tools
