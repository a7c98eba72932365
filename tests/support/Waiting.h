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

// Spacing for a load generator (bursts that the socket's buffer can take); nothing is
// asserted on it.
inline void pace(std::chrono::milliseconds gap) { std::this_thread::sleep_for(gap); }

}  // namespace vitrine::test
