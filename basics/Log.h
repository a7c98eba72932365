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

// Holds back repeated lines that one thread writes on behalf of the network, so that a stream
// of bad datagrams cannot fill the journal. While a Scope is active on a thread, each kind of
// line Log::write is given there (a kind is its format text) is written at most
// linesPerInterval times per interval; the rest are dropped before they are even formatted, and
// once an interval in which lines were dropped has ended, one line says how many:
// "\t\tlog: 1234 more lines like \"err: ...\" from <source> in the last 1 s".
// The lines that do get through keep their exact texts. Summaries are written by the next line
// of the same kind or by flush(), whichever comes first.
// Thread safety: one thread at a time (the receiving thread of the port that owns it).
class LogThrottle {
public:
    explicit LogThrottle(std::string source, int linesPerInterval = 5,
                         double intervalSeconds = 1.0);

    // Throttles Log::write on the calling thread until destroyed; scopes nest.
    class Scope {
    public:
        explicit Scope(LogThrottle& throttle);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        LogThrottle* previous;
    };

    // Writes the summaries of intervals that have ended.
    void flush();
    void setSource(std::string newSource) { source = std::move(newSource); }

private:
    friend class Log;
    struct Kind {
        const char* format;
        double windowStart;
        int written;
        unsigned long long dropped;
    };
    bool admit(const char* format);
    void summarise(Kind& kind, double now);

    std::string source;
    int limit;
    double interval;
    std::vector<Kind> kinds;
};

// printf-style formatting into a std::string, for descriptions and log texts. A null format
// gives an empty string.
std::string stringWithFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string stringWithFormatV(const char* format, va_list args);

}  // namespace vitrine
