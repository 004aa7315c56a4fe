#include "app/commands.h"
#include "app/startup.h"
#include "config/firmware_config.h"
#include "production/production_dialog.h"
#include "drivers/page55.h"
#include "wizard/upgrade_wizard.h"

int runStartedApplication()
{
    if (FirmwareConfig.For_internal_production) {
        // The production dialog owns its ports and never asks for a restart, so nothing of the
        // wizard's exit steps applies here.
        runProductionDialog();
        return 0;
    }
    {
        // Made with the other pages, in the sheet only when the delivery asks for the change.
        CPage55 page55;
        runUpgradeWizard(FirmwareConfig.Windows_ChgDrv_and_Reboot ? &page55 : nullptr);
    }
    runExitSteps();
    return 0;
}

int runApplication()
{
    initialiseProgramState();
    return runStartedApplication();
}
