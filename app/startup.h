// The start-up routine of the application object: the program state (config/program_state.h)
// and the configuration, then the one modal window of the run.
// Thread rule: UI thread, before any worker exists.
#pragma once

#include "config/program_state.h"

// Start-up steps 2 to 5: OsFlavor, ProgramDirectory, RebootRequested cleared, configuration.
void initialiseProgramState();

// Start-up steps 6 to 8 on the state initialiseProgramState set (app/application.cpp): the
// production dialog, or the wizard followed by its exit steps. The program's exit status (0).
int runStartedApplication();
