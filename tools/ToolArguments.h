#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "basics/Date.h"
#include "tools/ToolSupport.h"

namespace vitrine::tools {

// Readers of the words the command-line tools take. Each gives nothing for a word it cannot
// read whole, so a tool can refuse the command before it does anything.
// Thread safety: pure functions.

// An IPv4 destination: a dotted quad, or "localhost" for 127.0.0.1. Host names are not looked
// up, so a mistyped name is refused instead of being resolved (or guessed) somewhere else.
std::optional<std::string> parseHost(std::string_view text);

// A point in time, in any of the forms the tools document:
//   now                          the current time
//   +SECONDS                     that long from now (1.5, 0.25 ...)
//   YYYY-MM-DDTHH:MM:SS[.frac]Z  a UTC date
//   SECONDS                      seconds since 2001-01-01 00:00:00 UTC, the epoch of time tags
// `now` is passed in so that tests can pin it.
std::optional<Date> parseDate(std::string_view text, Date now);

// "2026-12-07T06:00:00.250000Z": the date in UTC, to the microsecond, as the tools print it.
std::string formatDate(Date date);

// "2F 6C 69 73"
std::string hexBytes(const uint8_t* bytes, size_t length);

}  // namespace vitrine::tools
