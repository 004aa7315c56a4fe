// The program's millisecond clock: a 32-bit tick counter that wraps like GetTickCount, and a
// sleep. Every time-out in the system is measured as the unsigned difference of two ticks, so a
// wrap of the counter never shortens or lengthens a wait.
//
// The clock in force is process-wide. The real one reads a monotonic clock; tests install a
// VirtualClock, on which sleeping advances time at once, so a 30 s time-out costs nothing.
// Thread rule: tickCount and sleepMs are safe from any thread; setClock is for test set-up only.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

using Ticks = uint32_t;

class Clock {
public:
    virtual ~Clock() = default;
    virtual Ticks now() = 0;
    virtual void sleep(uint32_t ms) = 0;
};

// The monotonic clock of the machine.
class RealClock : public Clock {
public:
    Ticks now() override;
    void sleep(uint32_t ms) override;
};

// Time that moves only when someone sleeps on it or advances it. Sleeping from several threads
// adds up their sleeps; tests that need parallel real waits use the real clock.
class VirtualClock : public Clock {
public:
    explicit VirtualClock(Ticks start = 0) : ticks_(start) {}
    Ticks now() override { return ticks_.load(std::memory_order_relaxed); }
    void sleep(uint32_t ms) override { advance(ms); }
    void advance(uint32_t ms) { ticks_.fetch_add(ms, std::memory_order_relaxed); }
    void set(Ticks t) { ticks_.store(t, std::memory_order_relaxed); }

private:
    std::atomic<Ticks> ticks_;
};

// The clock in force; setClock(nullptr) puts the real clock back.
Clock& clock();
void setClock(Clock* c);
bool clockIsVirtual();

inline Ticks tickCount() { return clock().now(); }
inline void sleepMs(uint32_t ms) { clock().sleep(ms); }
inline uint32_t elapsedSince(Ticks start) { return tickCount() - start; }

// Installs a virtual clock for the life of the object (tests).
class ScopedVirtualClock {
public:
    explicit ScopedVirtualClock(Ticks start = 0) : clock_(start) { setClock(&clock_); }
    ~ScopedVirtualClock() { setClock(nullptr); }
    ScopedVirtualClock(const ScopedVirtualClock&) = delete;
    ScopedVirtualClock& operator=(const ScopedVirtualClock&) = delete;
    VirtualClock& operator*() { return clock_; }
    VirtualClock* operator->() { return &clock_; }

private:
    VirtualClock clock_;
};

}  // namespace platform
