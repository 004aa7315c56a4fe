// Raising the calling thread above the normal scheduling priority, as upload workers ask for.
// On Linux this needs privileges (CAP_SYS_NICE); without them the thread simply keeps its
// priority, which costs nothing at these data rates.
// Results: true when the priority was raised; callers may ignore it.
// Thread rule: acts on the calling thread only.
#pragma once

namespace platform {

bool raiseCurrentThreadPriority();

// Asks the OS to wake the calling thread as close to its time-outs as it can. The default timer
// slack (50 us) lands on every 2 ms pause and every ACK wait of a transfer, a block's worth of
// throughput every hundred blocks.
void tightenCurrentThreadTimers();

}  // namespace platform
