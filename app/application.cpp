#include <cstdio>

#include "app/commands.h"
#include "app/startup.h"
#include "config/firmware_config.h"
#include "upload/upload_job.h"
#include "wizard/upgrade_wizard.h"

namespace {

constexpr int WizardSucceededStatus = 0;
constexpr int WizardFailedStatus = 1;

constexpr const char* ProductionNotBuiltText = "Tarvo32: the production-line dialog is not built yet\n";

}  // namespace

int runStartedApplication()
{
    if (FirmwareConfig.For_internal_production) {
        // The production dialog owns its ports and never asks for a restart, so nothing of the
        // wizard's exit steps applies here.
        std::fputs(ProductionNotBuiltText, stderr);
        return 0;
    }
    runUpgradeWizard();
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
