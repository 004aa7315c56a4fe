#include "platform/thread_priority.h"

#include <cerrno>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {
// One step above the normal nice value: "above normal", not real time.
constexpr int AboveNormalNiceStep = 1;
constexpr unsigned long WorkerTimerSlackNs = 1000;
}  // namespace

bool raiseCurrentThreadPriority()
{
    // On Linux the nice value is per thread when addressed by its thread id.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    int current = getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0) {
        return false;
    }
    return setpriority(PRIO_PROCESS, tid, current - AboveNormalNiceStep) == 0;
}

void tightenCurrentThreadTimers() { prctl(PR_SET_TIMERSLACK, WorkerTimerSlackNs, 0, 0, 0); }

}  // namespace platform
