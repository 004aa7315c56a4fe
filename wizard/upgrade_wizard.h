// Runs the upgrade wizard (the sheet with its pages) modally until it closes, and the exit steps
// of wizard mode after it.
// Thread rule: UI thread.
#pragma once

// Returns when the wizard has closed (Finish, Cancel or the close box); the result is not used.
void runUpgradeWizard();

// Exit steps of wizard mode: close CurrentModem's port if it is still open, then restart when
// RebootRequested (config/program_state.h).
void runExitSteps();
