// Runs the upgrade wizard (the sheet with its pages) modally until it closes.
// Thread rule: UI thread.
#pragma once

// Returns when the wizard has closed (Finish, Cancel or the close box); the result is not used.
void runUpgradeWizard();
