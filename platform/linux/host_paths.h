// This host's own helpers behind the seams, for the Linux implementation files, the modem
// simulator and the tests; nothing above platform/ includes this header.
// - The host folder $TARVO_HOST holds what the Windows machine would (ports/, the registry file,
//   the Windows folders); the INI describes a delivery, this describes the host.
// - A COM port exists as the entry $TARVO_HOST/ports/comN, a link to a tty device.
// - TARVO_WINVER names the Windows version the program reports; CreateProcessA's command lines
//   are split as the C runtime splits them.
// Results: empty text or ok false when a value cannot be had.
// Thread rule: safe from any thread (reads the environment each call).
#pragma once

#include <string>
#include <vector>

#include "platform/windows_version.h"

namespace platform {

// The value of an environment variable; empty when unset.
std::string environmentValue(const char* name);

// $TARVO_HOST, else $XDG_DATA_HOME/tarvo32, else ~/.local/share/tarvo32. No trailing slash.
std::string hostDirectory();

// The device entry for a Windows port name: "COM3" -> $TARVO_HOST/ports/com3. Empty when the
// name is not a port (platform/com_port_name.h, comPortNumber).
std::string portEntryPath(const std::string& portName);

// What windowsVersion() reports for a TARVO_WINVER text; empty gives the default (Windows XP).
WindowsVersion windowsVersionFrom(const std::string& text);

// The words of a Windows command line, split as the C runtime splits them: blanks separate,
// double quotes group, backslashes are literal except before a quote.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

}  // namespace platform
