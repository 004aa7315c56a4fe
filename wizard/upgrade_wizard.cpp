#include "wizard/upgrade_wizard.h"

#include <cstdio>

void runUpgradeWizard()
{
    std::fputs("Tarvo32: the wizard window is not built yet\n", stderr);
}
