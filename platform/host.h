// Where this host keeps what the Windows machine would: the folder $TARVO_HOST (ports/, the
// registry file, the Windows folders), the path of the running executable, the Windows version
// the program reports (TARVO_WINVER), and the restart command. The INI describes a delivery;
// this describes the host. It also starts the programs the system runs (the restart program and
// the restart command).
// Results: empty text or ok false when a value cannot be had; NoProcess for a failed start.
// Thread rule: safe from any thread (reads the environment each call); a process handle is used
// by the thread that started it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// $TARVO_HOST, else $XDG_DATA_HOME/tarvo32, else ~/.local/share/tarvo32. No trailing slash.
std::string hostDirectory();

// The device entry for a Windows port name: "COM3" -> $TARVO_HOST/ports/com3. Empty when the
// name is not COM followed by a decimal number from 1 to 255.
std::string portEntryPath(const std::string& portName);

// Full path of the running executable (/proc/self/exe), empty when it cannot be read.
std::string executablePath();

// What GetVersionExA would fill in; ok false when the call fails (an unrecognised TARVO_WINVER).
struct WindowsVersion {
    bool ok = false;
    uint32_t platformId = 0;  // 1 = VER_PLATFORM_WIN32_WINDOWS, 2 = VER_PLATFORM_WIN32_NT
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;  // as reported; the 9x family carries the version in the high word
};
WindowsVersion windowsVersion();
// The same from a TARVO_WINVER text; empty gives the default (Windows XP).
WindowsVersion windowsVersionFrom(const std::string& text);

// Programs started as CreateProcessA would start them, hidden: standard streams on /dev/null,
// no descriptors inherited. A process is named by a non-zero handle.
using ProcessHandle = int64_t;
constexpr ProcessHandle NoProcess = 0;

// The words of a Windows command line, split as the C runtime splits them: blanks separate,
// double quotes group, backslashes are literal except before a quote.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

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

// ExitWindowsEx for EWX_REBOOT: runs $TARVO_REBOOT_COMMAND through /bin/sh, waiting for it at
// most RestartCommandLimitMs. False, quietly, when it is unset, could not start, failed, or the
// flags ask for something else.
constexpr uint32_t ExitWindowsReboot = 2;  // EWX_REBOOT
constexpr uint32_t RestartCommandLimitMs = 15000;
bool exitWindowsEx(uint32_t flags, uint32_t reserved);

}  // namespace platform
