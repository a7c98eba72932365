#include "tools/ToolArguments.h"

#include <arpa/inet.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "basics/Log.h"

namespace vitrine::tools {

namespace {

template <typename Number>
std::optional<Number> wholeNumber(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<Date> isoDate(std::string_view text) {
    // Fixed width on purpose: "2026-12-07T06:00:00" then an optional fraction, then "Z".
    if (text.size() < 20 || text.back() != 'Z' || text[4] != '-' || text[7] != '-' ||
        text[10] != 'T' || text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    const auto field = [&](size_t at, size_t width) {
        return wholeNumber<int>(text.substr(at, width));
    };
    const auto year = field(0, 4), month = field(5, 2), day = field(8, 2), hour = field(11, 2),
               minute = field(14, 2), second = field(17, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    if (*month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 ||
        *second > 60) {
        return std::nullopt;
    }
    double fraction = 0.0;
    const std::string_view rest = text.substr(19, text.size() - 20);
    if (!rest.empty()) {
        if (rest[0] != '.' || rest.size() < 2) return std::nullopt;
        const auto digits = rest.substr(1);
        for (const char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
        }
        const auto parsed = wholeNumber<double>("0." + std::string(digits));
        if (!parsed) return std::nullopt;
        fraction = *parsed;
    }
    std::tm parts{};
    parts.tm_year = *year - 1900;
    parts.tm_mon = *month - 1;
    parts.tm_mday = *day;
    parts.tm_hour = *hour;
    parts.tm_min = *minute;
    parts.tm_sec = *second;
    const time_t unixSeconds = timegm(&parts);
    // timegm folds 31 February into March; a date that does not round-trip was not a date.
    std::tm back{};
    gmtime_r(&unixSeconds, &back);
    if (back.tm_mday != *day || back.tm_mon != *month - 1) return std::nullopt;
    return dateFromUnixTime(static_cast<double>(unixSeconds)) + fraction;
}

}  // namespace

std::optional<std::string> parseHost(std::string_view text) {
    if (text == "localhost") return "127.0.0.1";
    const std::string host(text);
    in_addr parsed{};
    if (inet_pton(AF_INET, host.c_str(), &parsed) != 1) return std::nullopt;
    return host;
}

std::optional<Date> parseDate(std::string_view text, Date now) {
    if (text == "now") return now;
    if (!text.empty() && text[0] == '+') {
        const auto offset = wholeNumber<double>(text.substr(1));
        if (!offset || !std::isfinite(*offset) || *offset < 0) return std::nullopt;
        return now + *offset;
    }
    if (text.find('T') != std::string_view::npos) return isoDate(text);
    const auto seconds = wholeNumber<double>(text);
    if (!seconds || !std::isfinite(*seconds)) return std::nullopt;
    return *seconds;
}

std::string formatDate(Date date) {
    const double unixTime = unixTimeFromDate(date);
    double whole = std::floor(unixTime);
    auto micros = static_cast<long>(std::llround((unixTime - whole) * 1e6));
    if (micros >= 1000000) {
        whole += 1;
        micros -= 1000000;
    }
    const auto seconds = static_cast<time_t>(whole);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    return stringWithFormat("%s.%06ldZ", text, micros);
}

std::string hexBytes(const uint8_t* bytes, size_t length) {
    std::string text;
    text.reserve(length * 3);
    static constexpr char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < length; ++i) {
        if (i > 0) text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

}  // namespace vitrine::tools
