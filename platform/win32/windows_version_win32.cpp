// GetVersionExA itself: the version Windows reports to the program (or, under Wine, the one the
// prefix is set to act as).
#include <windows.h>

#include "platform/windows_version.h"

namespace platform {

WindowsVersion windowsVersion()
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    WindowsVersion v;
    if (!GetVersionExA(&info)) {
        return v;
    }
    v.ok = true;
    v.platformId = info.dwPlatformId;
    v.major = info.dwMajorVersion;
    v.minor = info.dwMinorVersion;
    v.build = info.dwBuildNumber;
    return v;
}

}  // namespace platform
