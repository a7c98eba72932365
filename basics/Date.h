#pragma once

namespace vitrine {

// A point in time: seconds since the reference date 2001-01-01 00:00:00 UTC, as a double.
// Time tags and query timeouts are dates.
using Date = double;

// Seconds between the Unix epoch and the reference date.
inline constexpr double kReferenceDateSinceUnixEpoch = 978307200.0;

Date dateNow();
inline constexpr Date dateFromUnixTime(double unixSeconds) {
    return unixSeconds - kReferenceDateSinceUnixEpoch;
}
inline constexpr double unixTimeFromDate(Date date) {
    return date + kReferenceDateSinceUnixEpoch;
}

}  // namespace vitrine
