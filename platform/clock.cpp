// The clock in force, process-wide: the machine's own unless a test installed a virtual one.
#include "platform/clock.h"

namespace platform {

namespace {
RealClock realClock;
std::atomic<Clock*> current{&realClock};
}  // namespace

Clock& clock() { return *current.load(std::memory_order_acquire); }

void setClock(Clock* c) { current.store(c ? c : &realClock, std::memory_order_release); }

bool clockIsVirtual() { return current.load(std::memory_order_acquire) != &realClock; }

}  // namespace platform
