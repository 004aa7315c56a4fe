// The command line of Tarvo32: one routine per sub-command, each returning the exit status.
// Plain `Tarvo32` runs the application (the wizard or the production dialog).
// Thread rule: main thread.
#pragma once

#include <string>
#include <vector>

using Arguments = std::vector<std::string>;  // the words after the sub-command

// Every command answers bad usage with this exit status; the commands that run uploads end
// with the other two.
constexpr int UsageExitStatus = 2;
constexpr int SucceededExitStatus = 0;
constexpr int FailedExitStatus = 1;

int runApplication();                  // app/application.cpp
int commandConfig(const Arguments&);   // app/command_config.cpp
int commandProbe(const Arguments&);    // app/command_probe.cpp
int commandUpgrade(const Arguments&);  // app/command_upgrade.cpp
int commandProduction(const Arguments&);  // app/command_production.cpp
int commandDrivers(const Arguments&);  // app/command_drivers.cpp
int commandHistory(const Arguments&);  // app/command_history.cpp
int commandPorts(const Arguments&);    // app/command_ports.cpp

// Port words ("COM3" or "3") are read with platform::parsePortArgument (platform/com_port_name.h).
// An upload phase in words for progress lines: "transferring", "failed", ...
const char* phaseWords(int32_t phase);

// The text with its control characters shown as \x1b (C0, DEL and the UTF-8 of the C1 range);
// line ends stay. For values written to a terminal.
std::string terminalSafe(const std::string& text);

// Says on stderr, once per program, that the upgrade record could not be written (the first
// failure's words); nothing when it could (app/command_history.cpp).
void sayRecordWarning();

// Warns on stderr when there is no Tarvo32.ini beside the executable that the reader can use
// (absent, not a regular file, not text): every value is then a default.
void warnWithoutIni();

// A JSON string literal of the text: quotes, backslashes and control characters escaped, bytes
// above 0x7F as \u00XX, so any answer a modem gives stays valid JSON (upload/json_line.h).
std::string jsonString(const std::string& text);
