#include "wizard/page00.h"

#include "config/firmware_config.h"
#include "resources/dialogs.h"
#include "resources/texts.h"

using namespace platform::ui;

CPage00::CPage00() : Page(page00Template()) {}

std::string welcomeText(const std::string& modelName, const std::string& firmwareVersion)
{
    return WelcomeTextHead + modelName + WelcomeTextMiddle + firmwareVersion + WelcomeTextTail;
}

bool CPage00::onInitDialog()
{
    setItemText(IdcWelcomeText, welcomeText(FirmwareConfig.Model_name, FirmwareConfig.Firmware_version));
    return true;
}

bool CPage00::onSetActive()
{
    postWizardButtons(0);
    postWizardButtons(WizNext);
    return Page::onSetActive();
}

bool CPage00::onKillActive()
{
    // Superseded by what the next page posts on its activation: both run before either
    // request is handled.
    postWizardButtons(0);
    postWizardButtons(WizBack | WizNext);
    return Page::onKillActive();
}
