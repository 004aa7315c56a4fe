// CreateProcessA with its wait, and ExitWindowsEx, as the program calls them on Windows.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"

namespace platform {

namespace {

HANDLE handleOf(ProcessHandle process)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(process));
}

// The NT family refuses ExitWindowsEx to a process without the shutdown privilege in its token.
// The 9x family has no tokens (the calls are stubs there) and the restart needs no privilege, so
// they are made on the NT family only.
void enableShutdownPrivilege()
{
    constexpr DWORD NineXFamilyBit = 0x80000000;  // GetVersion's top bit: not the NT family
    if (GetVersion() & NineXFamilyBit) {
        return;
    }
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

}  // namespace

ProcessHandle startHiddenProcess(const std::string& commandLine)
{
    // CreateProcessA may write into the command line, so it gets a copy of its own.
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        return NoProcess;
    }
    CloseHandle(info.hThread);
    return static_cast<ProcessHandle>(reinterpret_cast<intptr_t>(info.hProcess));
}

bool waitForProcessEnd(ProcessHandle process, uint32_t timeoutMs)
{
    if (process == NoProcess) {
        return true;
    }
    DWORD waitMs = timeoutMs;
    if (clockIsVirtual()) {
        // Virtual time: let the wait pass at once, then look again.
        sleepMs(timeoutMs);
        waitMs = 0;
    }
    DWORD result = WaitForSingleObject(handleOf(process), waitMs);
    if (result == WAIT_TIMEOUT) {
        return false;
    }
    // Ended, or a handle Windows no longer knows: either way there is nothing left to wait for.
    CloseHandle(handleOf(process));
    return true;
}

void releaseProcess(ProcessHandle process)
{
    // Windows keeps no zombie: closing our handle lets the process run on and be forgotten.
    if (process != NoProcess) {
        CloseHandle(handleOf(process));
    }
}

bool exitWindowsEx(uint32_t flags, uint32_t reserved)
{
    enableShutdownPrivilege();
    return ExitWindowsEx(flags, reserved) != 0;
}

}  // namespace platform
