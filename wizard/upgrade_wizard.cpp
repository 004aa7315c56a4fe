#include "wizard/upgrade_wizard.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/ui/backend.h"
#include "platform/ui/headless_backend.h"
#include "wizard/page00.h"
#include "wizard/page10.h"
#include "wizard/page30.h"
#include "wizard/page45.h"
#include "wizard/page_container.h"

namespace {

// TARVO_UI=headless runs the wizard with no windows at all (it is cancelled at once); used by
// scripts on machines without a display.
constexpr const char* UiVariable = "TARVO_UI";
constexpr const char* HeadlessUi = "headless";

}  // namespace

void runUpgradeWizard(platform::ui::Page* lastPage)
{
    if (!platform::ui::backendAvailable()) {
        const char* ui = std::getenv(UiVariable);
        if (ui == nullptr || std::strcmp(ui, HeadlessUi) != 0) {
            std::fputs("Tarvo32: no window system to show the wizard on\n", stderr);
            return;
        }
        platform::ui::installBackend(std::make_unique<platform::ui::HeadlessBackend>());
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
