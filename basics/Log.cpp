#include "basics/Log.h"

#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>
#include <utility>

namespace vitrine {

namespace {

std::mutex& sinkLock() {
    static std::mutex lock;
    return lock;
}

// Held by shared_ptr so that a line can be written outside the lock while another thread
// replaces the sink.
std::shared_ptr<const Log::Sink>& currentSink() {
    static std::shared_ptr<const Log::Sink> sink;
    return sink;
}

void writeToStandardError(const std::string& text) {
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const std::string line =
        stringWithFormat("%s.%03ld %s[%d:%ld] %s\n", stamp, static_cast<long>(now.tv_usec / 1000),
                         program_invocation_short_name, static_cast<int>(getpid()),
                         static_cast<long>(syscall(SYS_gettid)), text.c_str());
    // One write per line keeps lines of different threads from interleaving.
    fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

std::string stringWithFormatV(const char* format, va_list args) {
    if (format == nullptr) return {};
    va_list copy;
    va_copy(copy, args);
    char small[256];
    const int needed = vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) return {};
    if (static_cast<size_t>(needed) < sizeof small) return std::string(small, needed);
    std::string out(static_cast<size_t>(needed), '\0');
    vsnprintf(out.data(), out.size() + 1, format, args);
    return out;
}

std::string stringWithFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = stringWithFormatV(format, args);
    va_end(args);
    return out;
}

namespace {
thread_local LogThrottle* activeThrottle = nullptr;

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

LogThrottle::LogThrottle(std::string source, int linesPerInterval, double intervalSeconds)
    : source(std::move(source)), limit(linesPerInterval), interval(intervalSeconds) {}

LogThrottle::Scope::Scope(LogThrottle& throttle) : previous(activeThrottle) {
    activeThrottle = &throttle;
}

LogThrottle::Scope::~Scope() {
    activeThrottle = previous;
}

bool LogThrottle::admit(const char* format) {
    const double now = steadySeconds();
    auto kind = std::find_if(kinds.begin(), kinds.end(),
                             [&](const Kind& known) { return known.format == format; });
    if (kind == kinds.end()) {
        kinds.push_back({format, now, 0, 0});
        kind = kinds.end() - 1;
    } else if (now - kind->windowStart >= interval) {
        summarise(*kind, now);
    }
    if (kind->written < limit) {
        ++kind->written;
        return true;
    }
    ++kind->dropped;
    return false;
}

void LogThrottle::flush() {
    // Called after every pass of a receiving port: the clock is read only when a line is held.
    double now = -1;
    for (Kind& kind : kinds) {
        if (kind.dropped == 0) continue;
        if (now < 0) now = steadySeconds();
        if (now - kind.windowStart >= interval) summarise(kind, now);
    }
}

void LogThrottle::summarise(Kind& kind, double now) {
    if (kind.dropped > 0) {
        std::string_view text(kind.format);
        while (!text.empty() && text.front() == '\t') text.remove_prefix(1);
        Log::writeText(stringWithFormat(
            "\t\tlog: %llu more lines like \"%.*s\" from %s in the last %g s", kind.dropped,
            static_cast<int>(text.size()), text.data(), source.c_str(), interval));
    }
    kind = {kind.format, now, 0, 0};
}

void Log::write(const char* format, ...) {
    if (activeThrottle && format && !activeThrottle->admit(format)) return;
    va_list args;
    va_start(args, format);
    std::string text = stringWithFormatV(format, args);
    va_end(args);
    writeText(text);
}

void Log::writeText(const std::string& text) {
    std::shared_ptr<const Sink> sink;
    {
        std::lock_guard guard(sinkLock());
        sink = currentSink();
    }
    if (sink && *sink) {
        (*sink)(text);
    } else {
        writeToStandardError(text);
    }
}

Log::Sink Log::setSink(Sink sink) {
    auto replacement = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
    std::lock_guard guard(sinkLock());
    auto previous = std::exchange(currentSink(), std::move(replacement));
    return previous ? *previous : Sink{};
}

LogCapture::LogCapture() {
    previous = Log::setSink([this](const std::string& text) {
        std::lock_guard guard(lock);
        captured.push_back(text);
    });
}

LogCapture::~LogCapture() {
    Log::setSink(std::move(previous));
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard guard(lock);
    return captured;
}

bool LogCapture::contains(std::string_view text) const {
    return count(text) > 0;
}

size_t LogCapture::count(std::string_view text) const {
    std::lock_guard guard(lock);
    return static_cast<size_t>(std::count(captured.begin(), captured.end(), text));
}

void LogCapture::clear() {
    std::lock_guard guard(lock);
    captured.clear();
}

}  // namespace vitrine
