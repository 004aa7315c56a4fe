// Starting and waiting for other programs (CreateProcessA with a wait), and the restart request
// (ExitWindowsEx): the restart program "RebootNT.exe" and the restart itself.
// On Linux a program starts with posix_spawn, hidden (standard streams on /dev/null, no
// descriptors inherited), and the restart runs $TARVO_REBOOT_COMMAND.
// Results: NoProcess for a failed start; false when a wait ran out or a restart was not made.
// Thread rule: safe from any thread; a process handle is used by the thread that started it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A process is named by a non-zero handle.
using ProcessHandle = int64_t;
constexpr ProcessHandle NoProcess = 0;

// Starts a command line. The program is its first word, or the quoted first word; an unquoted
// path with spaces is resolved as CreateProcessA does, taking the shortest blank-separated
// prefix that names an executable file. A name without '/' is looked up in PATH.
// NoProcess when it could not be started.
ProcessHandle startHiddenProcess(const std::string& commandLine);
// Waits up to timeoutMs (on the platform clock) for the process to end; true when it has ended,
// after which the handle is spent.
bool waitForProcessEnd(ProcessHandle process, uint32_t timeoutMs);
// Stops waiting for a process that is still running: it runs on and is reaped in the background
// when it ends, so it never lingers as a zombie.
void releaseProcess(ProcessHandle process);

// ExitWindowsEx for EWX_REBOOT: on Linux runs $TARVO_REBOOT_COMMAND through /bin/sh, waiting for
// it at most RestartCommandLimitMs. False, quietly, when it is unset, could not start, failed,
// or the flags ask for something else.
constexpr uint32_t ExitWindowsReboot = 2;  // EWX_REBOOT
constexpr uint32_t RestartCommandLimitMs = 15000;
bool exitWindowsEx(uint32_t flags, uint32_t reserved);

}  // namespace platform
