#pragma once

#include <cstdarg>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vitrine {

// The system log: one line per event. By default each line goes to standard error as
// "2026-12-06 08:40:01.123 program[pid:tid] text". Objects are written with %s and their
// description().c_str(), so every fixed log text keeps its exact wording apart from %@.
// Thread safety: every function may be called from any thread, also from inside a sink.
class Log {
public:
    using Sink = std::function<void(const std::string& text)>;

    static void write(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void writeText(const std::string& text);

    // Replaces where lines go; an empty sink restores standard error. Returns the previous sink.
    static Sink setSink(Sink sink);
};

// Collects every logged line (without timestamp or program name) while it exists, then puts
// the previous sink back. Meant for tests that assert exact log lines.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    bool contains(std::string_view text) const;
    size_t count(std::string_view text) const;
    void clear();

private:
    mutable std::mutex lock;
    std::vector<std::string> captured;
    Log::Sink previous;
};

// printf-style formatting into a std::string, for descriptions and log texts. A null format
// gives an empty string.
std::string stringWithFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string stringWithFormatV(const char* format, va_list args);

}  // namespace vitrine
