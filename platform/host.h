// Where this host keeps what the Windows machine would: the folder $TARVO_HOST (ports/, the
// registry file, the Windows folders), the path of the running executable, the Windows version
// the program reports (TARVO_WINVER), and the restart command. The INI describes a delivery;
// this describes the host.
// Thread rule: safe from any thread (reads the environment each call).
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace platform
