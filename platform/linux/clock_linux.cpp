// The machine's monotonic clock behind RealClock.
#include "platform/clock.h"

#include <ctime>
#include <cerrno>

namespace platform {

Ticks RealClock::now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    // Truncation to 32 bits is the point: the counter wraps every 49.7 days like the original.
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<Ticks>(ms);
}

void RealClock::sleep(uint32_t ms)
{
    timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
