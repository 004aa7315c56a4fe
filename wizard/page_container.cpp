#include "wizard/page_container.h"

#include "config/about_box.h"

CPageContainer UpgradeSheet;

void CPageContainer::winHelp(uint32_t, uint32_t)
{
    showAboutBox(handle());
}
