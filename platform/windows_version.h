// The Windows version the program runs on, as GetVersionExA fills it in; start-up reads it once
// to set OsFlavor. On Linux the version is the one TARVO_WINVER names (win95, win98, win98se,
// winme, nt4, win2k, winxp, or PLATFORMID.MAJOR.MINOR.BUILD); unset, Windows XP.
// Results: ok false when the call fails (an unrecognised TARVO_WINVER).
// Thread rule: safe from any thread (reads the environment each call).
#pragma once

#include <cstdint>

namespace platform {

struct WindowsVersion {
    bool ok = false;
    uint32_t platformId = 0;  // 1 = VER_PLATFORM_WIN32_WINDOWS, 2 = VER_PLATFORM_WIN32_NT
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;  // as reported; the 9x family carries the version in the high word
};

WindowsVersion windowsVersion();

}  // namespace platform
