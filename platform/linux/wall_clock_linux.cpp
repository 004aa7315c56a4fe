// The wall clock from the system's real-time clock, broken down in UTC.
#include "platform/wall_clock.h"

#include <ctime>

namespace platform {

UtcTime utcNow()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm parts{};
    gmtime_r(&ts.tv_sec, &parts);
    UtcTime t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.day = parts.tm_mday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec;
    return t;
}

}  // namespace platform
