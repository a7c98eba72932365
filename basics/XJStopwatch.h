#pragma once

#include <sys/time.h>

#include <memory>

#include "basics/SpinLock.h"

namespace vitrine {

// Wall-clock time since a start instant kept to the microsecond. The start may lie in the
// future (startInTimeInterval with a positive offset), in which case the readings are negative.
// Thread safety: every operation takes the stopwatch's lock, so it may be started on one thread
// and read on another.
class XJStopwatch {
public:
    // Already started.
    static std::shared_ptr<XJStopwatch> create();
    XJStopwatch();
    XJStopwatch(const XJStopwatch&) = delete;
    XJStopwatch& operator=(const XJStopwatch&) = delete;

    void start();
    // Seconds from the start instant to now.
    double timeSinceStart() const;
    // The same difference split into whole seconds and microseconds (0 to 999,999, the seconds
    // carrying the sign). Does nothing when destination is null.
    void getFullTimeSinceStart(timeval* destination) const;
    // Sets the start to now plus offset seconds: -2.5 reads about 2.5 at once, 5.0 reads about
    // -5.0 and reaches 0 five seconds later.
    void startInTimeInterval(double offset);
    // Does nothing when destination is null.
    void copyStartTimeToTimevalStruct(timeval* destination) const;
    // Microseconds outside 0 to 999,999 are carried into the seconds.
    void setStartTimeStruct(const timeval& source);

    // now - start with the microsecond borrow, for instants taken from elsewhere.
    static timeval fullTimeBetween(const timeval& start, const timeval& now);

private:
    timeval startTime{};
    mutable SpinLock timeLock;
};

}  // namespace vitrine
