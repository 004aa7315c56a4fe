#include "wizard/upgrade_wizard.h"

#include <cstdio>

#include "config/program_state.h"
#include "link/serial_link.h"
#include "platform/ui/backend.h"
#include "wizard/page00.h"
#include "wizard/page10.h"
#include "wizard/page30.h"
#include "wizard/page45.h"
#include "wizard/page_container.h"
#include "wizard/wizard_state.h"

namespace {

constexpr const char* NoWindowSystemText = "Tarvo32: no window system to show the wizard on\n";

}  // namespace

void runUpgradeWizard(platform::ui::Page* lastPage)
{
    if (!platform::ui::backendAvailable()) {
        std::fputs(NoWindowSystemText, stderr);
        return;
    }
    CPage00 page00;
    CPage10 page10;
    CPage30 page30;
    CPage45 page45;
    UpgradeSheet.addPage(&page00);
    UpgradeSheet.addPage(&page10);
    UpgradeSheet.addPage(&page30);
    UpgradeSheet.addPage(&page45);
    if (lastPage != nullptr) {
        UpgradeSheet.addPage(lastPage);
    }
    UpgradeSheet.runModal();
    // The pages die here; the sheet keeps no pointer to them.
    UpgradeSheet.clearPages();
}

void runExitSteps()
{
    if (CurrentModem.portHandle != NoPort) {
        closePort(CurrentModem.portHandle);
        CurrentModem.portHandle = NoPort;
    }
    restartIfRequested();
}
