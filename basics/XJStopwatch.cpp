#include "basics/XJStopwatch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>

namespace vitrine {

namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
// Keeps every seconds difference far from overflow whatever a caller stores; about 35,000 years.
constexpr std::int64_t kSecondsBound = std::int64_t{1} << 40;

timeval now() {
    timeval instant{};
    gettimeofday(&instant, nullptr);
    return instant;
}

timeval normalised(std::int64_t seconds, std::int64_t micros) {
    std::int64_t carry = micros / kMicrosPerSecond;
    micros -= carry * kMicrosPerSecond;
    if (micros < 0) {
        micros += kMicrosPerSecond;
        --carry;
    }
    std::int64_t total = 0;
    if (__builtin_add_overflow(seconds, carry, &total)) {
        total = carry < 0 ? -kSecondsBound : kSecondsBound;
    }
    seconds = std::clamp(total, -kSecondsBound, kSecondsBound);
    timeval out{};
    out.tv_sec = static_cast<time_t>(seconds);
    out.tv_usec = static_cast<suseconds_t>(micros);
    return out;
}

}  // namespace

std::shared_ptr<XJStopwatch> XJStopwatch::create() {
    return std::make_shared<XJStopwatch>();
}

XJStopwatch::XJStopwatch() {
    start();
}

void XJStopwatch::start() {
    std::lock_guard guard(timeLock);
    startTime = now();
}

timeval XJStopwatch::fullTimeBetween(const timeval& start, const timeval& now) {
    std::int64_t seconds = static_cast<std::int64_t>(now.tv_sec) - start.tv_sec;
    std::int64_t micros = static_cast<std::int64_t>(now.tv_usec) - start.tv_usec;
    if (micros < 0) {
        // Borrow whole seconds from now; with well-formed instants this is a single second.
        const std::int64_t borrow = (-micros + kMicrosPerSecond - 1) / kMicrosPerSecond;
        seconds -= borrow;
        micros += borrow * kMicrosPerSecond;
    }
    timeval out{};
    out.tv_sec = static_cast<time_t>(seconds);
    out.tv_usec = static_cast<suseconds_t>(micros);
    return out;
}

double XJStopwatch::timeSinceStart() const {
    std::lock_guard guard(timeLock);
    const timeval elapsed = fullTimeBetween(startTime, now());
    return static_cast<double>(elapsed.tv_sec) +
           static_cast<double>(elapsed.tv_usec) / static_cast<double>(kMicrosPerSecond);
}

void XJStopwatch::getFullTimeSinceStart(timeval* destination) const {
    if (destination == nullptr) return;
    std::lock_guard guard(timeLock);
    *destination = fullTimeBetween(startTime, now());
}

void XJStopwatch::startInTimeInterval(double offset) {
    // A not-a-number or absurd offset would make the integer conversions below undefined.
    if (std::isnan(offset)) offset = 0.0;
    offset =
        std::clamp(offset, -static_cast<double>(kSecondsBound), static_cast<double>(kSecondsBound));
    const auto whole = static_cast<std::int64_t>(offset);
    const auto micro =
        static_cast<std::int32_t>((offset - static_cast<double>(whole)) * kMicrosPerSecond);
    std::lock_guard guard(timeLock);
    const timeval current = now();
    startTime = normalised(static_cast<std::int64_t>(current.tv_sec) + whole,
                           static_cast<std::int64_t>(current.tv_usec) + micro);
}

void XJStopwatch::copyStartTimeToTimevalStruct(timeval* destination) const {
    if (destination == nullptr) return;
    std::lock_guard guard(timeLock);
    *destination = startTime;
}

void XJStopwatch::setStartTimeStruct(const timeval& source) {
    const timeval value = normalised(source.tv_sec, source.tv_usec);
    std::lock_guard guard(timeLock);
    startTime = value;
}

}  // namespace vitrine
