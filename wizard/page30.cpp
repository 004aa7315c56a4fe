#include "wizard/page30.h"

#include "config/firmware_config.h"
#include "resources/dialogs.h"
#include "resources/texts.h"
#include "wizard/wizard_state.h"

using namespace platform::ui;

CPage30::CPage30() : Page(page30Template()), summaryBox_(*this, IdcSummaryBox) {}

std::string summaryText(const std::string& firmwareVersion, const std::string& portName)
{
    return std::string(SummaryWarning) + SummaryVersionLabel + firmwareVersion + SummaryPortLabel + portName +
           SummaryPortTail + SummaryPrompt;
}

bool CPage30::onSetActive()
{
    postWizardButtons(WizBack | WizNext);
    // Filled a moment later, from what the shared state holds then.
    setTimer(SummaryTimerId, SummaryDelayMs);
    return Page::onSetActive();
}

void CPage30::onTimer(int timerId)
{
    if (timerId != SummaryTimerId) {
        return;
    }
    killTimer(SummaryTimerId);
    std::string text = summaryText(FirmwareConfig.Firmware_version, CurrentModem.portName);
    summaryBox_.clear();
    summaryBox_.append(text, 0);
}
