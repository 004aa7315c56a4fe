// The machine's own tick counter behind RealClock: GetTickCount already wraps every 49.7 days
// as the program expects, and Sleep is the wait every pause of the system is written for.
#include <windows.h>

#include "platform/clock.h"

namespace platform {

Ticks RealClock::now()
{
    return static_cast<Ticks>(GetTickCount());
}

void RealClock::sleep(uint32_t ms)
{
    Sleep(ms);
}

}  // namespace platform
