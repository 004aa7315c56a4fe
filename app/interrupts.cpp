#include "app/interrupts.h"

#include <atomic>

namespace {

// Only written by the signal handler, only read by the command's loop.
std::atomic<int> interruptRequested{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onInterrupt(int) { interruptRequested.store(1, std::memory_order_relaxed); }

}  // namespace

InterruptWatch::InterruptWatch()
{
    interruptRequested.store(0, std::memory_order_relaxed);
    previousInt_ = std::signal(SIGINT, onInterrupt);
    previousTerm_ = std::signal(SIGTERM, onInterrupt);
}

InterruptWatch::~InterruptWatch()
{
    std::signal(SIGINT, previousInt_);
    std::signal(SIGTERM, previousTerm_);
}

bool InterruptWatch::requested() const
{
    return interruptRequested.load(std::memory_order_relaxed) != 0;
}
