#include "app/commands.h"
#include "app/startup.h"
#include "config/firmware_config.h"
#include "production/production_dialog.h"
#include "drivers/page55.h"
#include "upload/upload_job.h"
#include "wizard/upgrade_wizard.h"

namespace {

constexpr int WizardSucceededStatus = 0;
constexpr int WizardFailedStatus = 1;

}  // namespace

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
    // For scripts: 0 only when the wizard said "Upload successfully"; a failure, a Cancel or a
    // wizard that could not be shown is 1.
    return uploadJobs[WizardJobIndex].phase.load(std::memory_order_relaxed) == Succeeded ? WizardSucceededStatus
                                                                                          : WizardFailedStatus;
}

int runApplication()
{
    initialiseProgramState();
    return runStartedApplication();
}
