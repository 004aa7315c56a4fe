// Runs the upgrade wizard (the sheet with its pages) modally until it closes, and the exit steps
// of wizard mode after it.
// Thread rule: UI thread.
#pragma once

#include "platform/ui/window.h"

// Returns when the wizard has closed (Finish, Cancel or the close box); the result is not used.
// lastPage, when given, is added after the upload page (the driver-change page, which the
// application makes: it lies beside the wizard, not below it).
void runUpgradeWizard(platform::ui::Page* lastPage = nullptr);

// Exit steps of wizard mode: close CurrentModem's port if it is still open, then restart when
// RebootRequested (config/program_state.h).
void runExitSteps();
