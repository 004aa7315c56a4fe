// The test framework's customisation hook for the Windows build (found ahead of the framework's
// own empty one). The Windows build's C++ library has no std::mutex or std::condition_variable
// (the compiler's win32 thread model, cmake/mingw-w64-common.cmake), which the framework's
// Notification is made of: this one is a manual-reset event, which every Windows has.
// Thread rule: Notify from one thread, WaitForNotification from any.
#ifndef TARVO_TESTS_GTEST_CUSTOM_PORT_H
#define TARVO_TESTS_GTEST_CUSTOM_PORT_H

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing

#endif
