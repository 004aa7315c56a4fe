// Worker priority and timer precision on Windows: SetThreadPriority above normal, and a 1 ms
// system timer so that Sleep(2) before a block and the waits for an ACK end on time instead of
// on the default 10 to 16 ms tick.
#include <windows.h>
#include <mmsystem.h>

#include "platform/thread_priority.h"

namespace platform {

namespace {
constexpr UINT WorkerTimerPeriodMs = 1;
}  // namespace

bool raiseCurrentThreadPriority()
{
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL) != 0;
}

void tightenCurrentThreadTimers()
{
    // The period is the whole process's and Windows restores it when the process ends, so one
    // request serves every worker of the run.
    static const MMRESULT timerPeriodSet = timeBeginPeriod(WorkerTimerPeriodMs);
    (void)timerPeriodSet;
}

}  // namespace platform
