// Program-wide state fixed at start-up (OsFlavor, ProgramDirectory, RebootRequested), the start-up
// routine of the application object and its exit steps, and Run and wait for the restart program.
// Results: runAndWait non-zero when the program started; the exit steps ignore every failure.
// Thread rule: UI thread; the state is written before any worker exists and read-only after.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host.h"

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

// Start-up steps 2 to 5: OsFlavor, ProgramDirectory, RebootRequested cleared, configuration.
void initialiseProgramState();

constexpr const char* RestartProgramName = "RebootNT.exe";
constexpr uint32_t RunAndWaitLimitMs = 15000;
constexpr uint32_t RunAndWaitPollMs = 100;
constexpr uint32_t RunAndWaitSettleMs = 500;
constexpr size_t RunAndWaitCommandLimit = 1023;

// Starts the command line hidden and waits for it at most 15 s, then pauses 500 ms. Non-zero
// when the process was started.
int runAndWait(const std::string& commandLine);

// Exit steps of wizard mode: close CurrentModem's port if open; restart when RebootRequested.
void runExitSteps();

// Start-up steps 6 to 8 on the state initialiseProgramState set (app/application.cpp): the
// production dialog, or the wizard followed by the exit steps. The program's exit status (0).
int runStartedApplication();
