// The program's threads and locks. On Linux these are the standard library's own. On
// Windows they are the system's oldest calls (_beginthreadex given a thread-id variable, a
// CRITICAL_SECTION entered and left), because every thread layer the cross compiler offers
// imports functions that Windows before Vista lacks or has only as a stub: the program has to load
// and run on the 95/98/Me family and on NT 4.0 as on today's Windows.
// Each type has the members of its standard counterpart that the program uses, so that code above
// this seam reads the same on both systems (std::lock_guard works with either Mutex). Pauses are
// std::this_thread::sleep_for, which is Sleep on Windows whatever the thread layer.
// Thread rule: a Mutex or RecursiveMutex may be locked from any thread; a Thread object belongs to
// the thread that made it, which joins it (or lets it go with detach) before destroying it.
#pragma once

#include <mutex>  // std::lock_guard, for either system's Mutex

#ifndef _WIN32
#include <thread>
#else
#include <cstdint>
#include <functional>
#include <utility>
#endif

namespace platform {

#ifndef _WIN32

using Mutex = std::mutex;
using RecursiveMutex = std::recursive_mutex;
using Thread = std::thread;
using ThreadId = std::thread::id;

inline ThreadId currentThreadId()
{
    return std::this_thread::get_id();
}

#else

// A CRITICAL_SECTION kept out of the header's reach (no <windows.h> above the platform layer).
// Entered recursively by its owner, as Windows' critical sections are.
class RecursiveMutex {
public:
    RecursiveMutex();
    ~RecursiveMutex();
    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;
    void lock();
    void unlock();

private:
    // The size of CRITICAL_SECTION on 64-bit Windows (24 bytes on 32-bit), aligned as it is.
    alignas(void*) unsigned char section_[40];
};

// Nothing locks a Mutex twice on one thread, so the recursive lock serves for both.
class Mutex : public RecursiveMutex {};

using ThreadId = uint32_t;

ThreadId currentThreadId();

class Thread {
public:
    using id = ThreadId;

    Thread() = default;
    template <typename F>
    explicit Thread(F&& body)
    {
        start(std::function<void()>(std::forward<F>(body)));
    }
    Thread(Thread&& other) noexcept { swap(other); }
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread();  // like std::thread, ends the program when still joinable

    bool joinable() const { return handle_ != nullptr; }
    void join();
    void detach();
    ThreadId get_id() const { return id_; }

private:
    void start(std::function<void()> body);
    void swap(Thread& other) noexcept;

    void* handle_ = nullptr;
    ThreadId id_ = 0;
};

#endif

}  // namespace platform
