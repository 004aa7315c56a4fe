// The wall clock in UTC (GetSystemTime's role): when an upload started and ended, for the upgrade
// record. Never for measuring time: intervals come from the tick count of platform/clock.h.
// Results: the current calendar time in UTC, to the second.
// Thread rule: safe from any thread.
#pragma once

namespace platform {

struct UtcTime {
    int year = 1970;
    int month = 1;   // 1 to 12
    int day = 1;     // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

UtcTime utcNow();

}  // namespace platform
