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

// "COM3" or "3" -> 3; 0 when the word is not a port.
int parsePortArgument(const std::string& word);
