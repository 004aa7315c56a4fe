#include "drivers/page55.h"

#include <optional>

#include "config/program_state.h"
#include "platform/clock.h"
#include "resources/dialogs.h"
#include "resources/texts.h"

using namespace platform::ui;

CPage55::CPage55() : Page(page55Template()) {}

CPage55::~CPage55() = default;

bool CPage55::onInitDialog()
{
    uninstallKey = 0;
    setTimer(DriverStepsTimerId, DriverStepsDelayMs);
    return true;
}

bool CPage55::onSetActive()
{
    postWizardButtons(0);
    return Page::onSetActive();
}

void CPage55::onTimer(int timerId)
{
    if (timerId == DriverStepsTimerId) {
        // Stopped first: a tick that was due meanwhile finds nothing to run again.
        killTimer(DriverStepsTimerId);
        runSteps();
    }
}

void CPage55::light(int controlId)
{
    enableItem(controlId, true);
    // The pauses keep the UI thread from painting: without this the texts would all come on
    // together at the end.
    updateWindow();
}

void CPage55::runSteps()
{
    std::optional<WaitCursor> wait;
    wait.emplace();
    platform::sleepMs(BeforeStep1Ms);
    light(IdcDriverStep1);
    wait.reset();
    platform::sleepMs(AfterStep1Ms);
    wait.emplace();
    platform::sleepMs(WaitCursorAgainMs);
    wait.reset();
    platform::sleepMs(BeforeStep2Ms);
    light(IdcDriverStep2);

    UninstallOldDriver();
    DeleteOldDriverFiles();

    platform::sleepMs(BeforeStep3Ms);
    light(IdcDriverStep3);

    InstallNewDriverFiles();

    platform::sleepMs(BeforeQuestionMs);
    enableItem(IdcRebootQuestion, true);
    enableItem(IdcRebootYes, true);
    checkItem(IdcRebootYes, true);
    enableItem(IdcRebootNo, true);
    checkItem(IdcRebootNo, false);
    updateWindow();
    RebootRequested = 1;

    postWizardButtons(AllButBackFlags);
    setFinishText(FinishButtonText);
}

void CPage55::onCommand(int controlId, Notification code)
{
    if (code != Notification::Clicked) {
        return;
    }
    // The last checked button wins.
    if (controlId == IdcRebootYes && itemChecked(IdcRebootYes)) {
        RebootRequested = 1;
    } else if (controlId == IdcRebootNo && itemChecked(IdcRebootNo)) {
        RebootRequested = 0;
    }
}
