#include "config/program_state.h"

#include "platform/clock.h"
#include "platform/process.h"

OsFlavorRecord OsFlavor;
std::string ProgramDirectory;
int RebootRequested = 0;

namespace {

// What the detection compares against.
constexpr uint32_t Win9xMajor = 4;
constexpr uint32_t Win98Minor = 10;
constexpr uint32_t WinMeMinor = 90;
constexpr uint32_t Win98SeFirstBuild = 2222;
constexpr uint32_t WinMeFirstBuild = 3000;
constexpr uint32_t BuildNumberMask = 0xFFFF;

constexpr uint32_t ExitWindowsReserved = 0;

}  // namespace

OsFlavorRecord detectOsFlavor(const platform::WindowsVersion& version)
{
    OsFlavorRecord flavor;
    if (version.ok) {
        flavor.IsNT = version.platformId == VerPlatformWin32Nt ? 1 : 0;
        flavor.IsWin9x = version.platformId == VerPlatformWin32Windows ? 1 : 0;
    }
    // The 9x family puts the version in the build number's high word; only the low word counts.
    const uint32_t build = version.build & BuildNumberMask;
    const bool win9x4 = version.ok && flavor.IsWin9x && version.major == Win9xMajor;
    if (win9x4 && version.minor == Win98Minor) {
        (build >= Win98SeFirstBuild ? flavor.IsWin98SE : flavor.IsWin98) = 1;
    } else if (win9x4 && version.minor == WinMeMinor && build >= WinMeFirstBuild) {
        flavor.IsWinMe = 1;
    } else {
        flavor.IsWin98 = 1;
    }
    return flavor;
}

std::string programDirectoryOf(const std::string& executablePath)
{
    // Both separators: the path may come from this host or be written the Windows way.
    size_t last = executablePath.find_last_of("/\\");
    return last == std::string::npos ? std::string() : executablePath.substr(0, last + 1);
}

int runAndWait(const std::string& commandLine)
{
    // Longer lines would not fit the command-line buffer; cutting one would start some other
    // command, so it is refused as a failed start.
    if (commandLine.size() > RunAndWaitCommandLimit) {
        return 0;
    }
    platform::ProcessHandle process = platform::startHiddenProcess(commandLine);
    if (process == platform::NoProcess) {
        return 0;
    }
    const platform::Ticks start = platform::tickCount();
    bool ended = false;
    while (!ended && platform::elapsedSince(start) < RunAndWaitLimitMs) {
        ended = platform::waitForProcessEnd(process, RunAndWaitPollMs);
    }
    if (!ended) {
        // Past the limit it is left running; it is reaped whenever it ends.
        platform::releaseProcess(process);
    }
    platform::sleepMs(RunAndWaitSettleMs);
    return 1;
}

void restartIfRequested()
{
    if (!RebootRequested) {
        return;
    }
    if (OsFlavor.IsWin9x) {
        platform::exitWindowsEx(platform::ExitWindowsReboot, ExitWindowsReserved);
    }
    if (OsFlavor.IsNT) {
        runAndWait(ProgramDirectory + RestartProgramName);
    }
}
