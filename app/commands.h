// The command line of Tarvo32: one routine per sub-command, each returning the exit status.
// Plain `Tarvo32` runs the application (the wizard or the production dialog).
// Thread rule: main thread.
#pragma once

#include <cstdint>
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

// Port words ("COM3" or "3") are read with platform::parsePortArgument (platform/com_port_name.h).
// An upload phase in words for progress lines: "transferring", "failed", ...
const char* phaseWords(int32_t phase);
