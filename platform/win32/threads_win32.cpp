// Threads and locks on Windows from calls every version has: _beginthreadex (the C runtime's
// per-thread data is set up for the new thread) with a variable for the thread id, which the
// 95/98/Me family requires, WaitForSingleObject to join, and CRITICAL_SECTION for locks.
#include <windows.h>

#include <process.h>

#include <exception>
#include <memory>
#include <system_error>

#include "platform/threads.h"

namespace platform {

namespace {

CRITICAL_SECTION* sectionOf(unsigned char* storage)
{
    return reinterpret_cast<CRITICAL_SECTION*>(storage);
}

unsigned __stdcall runBody(void* argument)
{
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return 0;
}

}  // namespace

RecursiveMutex::RecursiveMutex()
{
    static_assert(sizeof(section_) >= sizeof(CRITICAL_SECTION), "room for a CRITICAL_SECTION");
    static_assert(alignof(RecursiveMutex) >= alignof(CRITICAL_SECTION), "aligned as one");
    InitializeCriticalSection(new (section_) CRITICAL_SECTION);
}

RecursiveMutex::~RecursiveMutex()
{
    DeleteCriticalSection(sectionOf(section_));
}

void RecursiveMutex::lock()
{
    EnterCriticalSection(sectionOf(section_));
}

void RecursiveMutex::unlock()
{
    LeaveCriticalSection(sectionOf(section_));
}

ThreadId currentThreadId()
{
    return GetCurrentThreadId();
}

Thread& Thread::operator=(Thread&& other) noexcept
{
    if (joinable()) {
        std::terminate();
    }
    swap(other);
    return *this;
}

Thread::~Thread()
{
    if (joinable()) {
        std::terminate();
    }
}

void Thread::start(std::function<void()> body)
{
    auto* owned = new std::function<void()>(std::move(body));
    unsigned id = 0;  // never a null pointer: the 95/98/Me family refuses one
    uintptr_t handle = _beginthreadex(nullptr, 0, runBody, owned, 0, &id);
    if (handle == 0) {
        delete owned;
        // As std::thread reports a thread it could not start.
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "_beginthreadex");
    }
    handle_ = reinterpret_cast<void*>(handle);
    id_ = id;
}

void Thread::join()
{
    WaitForSingleObject(static_cast<HANDLE>(handle_), INFINITE);
    detach();
}

void Thread::detach()
{
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    id_ = 0;
}

void Thread::swap(Thread& other) noexcept
{
    std::swap(handle_, other.handle_);
    std::swap(id_, other.id_);
}

}  // namespace platform
