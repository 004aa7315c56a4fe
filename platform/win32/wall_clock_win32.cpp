// GetSystemTime: the wall clock in UTC.
#include <windows.h>

#include "platform/wall_clock.h"

namespace platform {

UtcTime utcNow()
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    UtcTime t;
    t.year = now.wYear;
    t.month = now.wMonth;
    t.day = now.wDay;
    t.hour = now.wHour;
    t.minute = now.wMinute;
    t.second = now.wSecond;
    return t;
}

}  // namespace platform
