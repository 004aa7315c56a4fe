#include "app/commands.h"
#include "app/startup.h"
#include "config/firmware_config.h"
#include "production/production_dialog.h"
#include "wizard/upgrade_wizard.h"

int runStartedApplication()
{
    if (FirmwareConfig.For_internal_production) {
        // The production dialog owns its ports and never asks for a restart, so nothing of the
        // wizard's exit steps applies here.
        runProductionDialog();
        return 0;
    }
    runUpgradeWizard();
    runExitSteps();
    return 0;
}

int runApplication()
{
    initialiseProgramState();
    return runStartedApplication();
}
