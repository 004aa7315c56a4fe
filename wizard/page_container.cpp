#include "wizard/page_container.h"

#include "config/firmware_config.h"
#include "resources/about_box.h"

CPageContainer UpgradeSheet;

void CPageContainer::winHelp(uint32_t, uint32_t)
{
    showAboutBox(handle(), FirmwareConfig.Company_short_name, FirmwareConfig.Company_name);
}
