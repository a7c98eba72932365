#include "basics/Date.h"

#include <sys/time.h>

namespace vitrine {

Date dateNow() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return dateFromUnixTime(static_cast<double>(now.tv_sec) + now.tv_usec / 1e6);
}

}  // namespace vitrine
