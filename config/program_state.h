// Program-wide state fixed at start-up (OsFlavor, ProgramDirectory, RebootRequested), Run and wait
// for the restart program, and the restart at exit. Start-up itself (app/startup.h) fills the
// state; the wizard's exit steps (wizard/upgrade_wizard.h) end with the restart; the pages and the
// production dialog read the state from here.
// Results: runAndWait non-zero when the program started; the restart ignores every failure.
// Thread rule: UI thread; the state is written before any worker exists and read-only after.
#pragma once

#include <cstdint>
#include <string>

#include "platform/windows_version.h"

struct OsFlavorRecord {
    int IsNT = 0;
    int IsWin9x = 0;
    int IsWin98 = 0;
    int IsWin98SE = 0;
    int IsWinMe = 0;
};

extern OsFlavorRecord OsFlavor;
extern std::string ProgramDirectory;  // ends with the path separator
extern int RebootRequested;

constexpr uint32_t VerPlatformWin32Windows = 1;
constexpr uint32_t VerPlatformWin32Nt = 2;

// The detection table, from what GetVersionExA reported.
OsFlavorRecord detectOsFlavor(const platform::WindowsVersion& version);
// Directory part of an executable path, up to and including the last separator.
std::string programDirectoryOf(const std::string& executablePath);

constexpr const char* RestartProgramName = "RebootNT.exe";
constexpr uint32_t RunAndWaitLimitMs = 15000;
constexpr uint32_t RunAndWaitPollMs = 100;
constexpr uint32_t RunAndWaitSettleMs = 500;
constexpr size_t RunAndWaitCommandLimit = 1023;

// Starts the command line hidden and waits for it at most 15 s, then pauses 500 ms. Non-zero
// when the process was started.
int runAndWait(const std::string& commandLine);

// The last exit step: when RebootRequested is set, restart Windows, directly on the 9x family,
// through ProgramDirectory + "RebootNT.exe" on the NT family.
void restartIfRequested();
