// Raising the calling thread above the normal scheduling priority, as upload workers ask for.
// On Linux this needs privileges (CAP_SYS_NICE); without them the thread simply keeps its
// priority, which costs nothing at these data rates.
// Results: true when the priority was raised; callers may ignore it.
// Thread rule: acts on the calling thread only.
#pragma once

namespace platform {

bool raiseCurrentThreadPriority();

}  // namespace platform
