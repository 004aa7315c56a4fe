// The parent of the program's hidden windows that only receive messages (the device-change
// listener's, the window backend's): message-only (HWND_MESSAGE) where Windows documents it, from
// Windows 2000 on; none, making a hidden top-level window that is never shown, on the 9x family
// and NT 4.0 (on 98 a message-only window is undocumented and GetAncestor on one crashes USER).
// A top-level window needs a display, which Windows always has; Wine without one refuses it.
// Thread rule: safe from any thread (reads the version each call).
#pragma once

#include <windows.h>

#include "platform/windows_version.h"

namespace platform {

inline HWND messageWindowParent()
{
    constexpr uint32_t FirstMessageOnlyMajor = 5;  // Windows 2000
    const WindowsVersion v = windowsVersion();
    const bool documented = v.ok && v.platformId == VER_PLATFORM_WIN32_NT && v.major >= FirstMessageOnlyMajor;
    return documented ? HWND_MESSAGE : nullptr;
}

}  // namespace platform
