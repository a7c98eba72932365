#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace vitrine::test {

// Waiting in tests is always for a condition, never for a fixed time: these poll it until it
// holds or a generous deadline passes, and say which.

inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Until `read` has given the same value for `quiet` (traffic that may be partly lost ends when
// nothing more arrives); false if it still changes at the deadline.
template <typename Read>
bool waitUntilSettled(Read read, std::chrono::milliseconds quiet = std::chrono::milliseconds(200),
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto seen = read();
    auto since = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - since < quiet) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (const auto now = read(); now != seen) {
            seen = now;
            since = std::chrono::steady_clock::now();
        }
    }
    return true;
}

// Spacing for a load generator (bursts that the socket's buffer can take); nothing is
// asserted on it.
inline void pace(std::chrono::milliseconds gap) { std::this_thread::sleep_for(gap); }

}  // namespace vitrine::test
