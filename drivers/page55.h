// Driver-change page (CPage55), the wizard's fifth page after a successful upload on the 9x
// family when Windows_ChgDrv_and_Reboot is set. Without any input it runs the driver change's
// three steps (drivers/driver_change.h) with fixed pauses, 13 s in all, lighting one step text
// after the other and repainting the page at once each time, since the UI thread takes no input
// or paint request meanwhile. Then it asks about the restart with Yes preselected, sets
// RebootRequested to 1 and offers Finish, Back off; a click on Yes or No sets RebootRequested to
// 1 or 0, and the application acts on it after the wizard has closed.
// Thread rule: UI thread only.
#pragma once

#include <cstdint>

#include "drivers/driver_change.h"
#include "platform/ui/window.h"

constexpr int DriverStepsTimerId = 30;
constexpr uint32_t DriverStepsDelayMs = 100;  // from the page's creation to the sequence
// The sequence's pauses, in order.
constexpr uint32_t BeforeStep1Ms = 1000;
constexpr uint32_t AfterStep1Ms = 2000;
constexpr uint32_t WaitCursorAgainMs = 4000;
constexpr uint32_t BeforeStep2Ms = 5000;
constexpr uint32_t BeforeStep3Ms = 500;
constexpr uint32_t BeforeQuestionMs = 500;
// PSM_SETWIZBUTTONS at the end: every flag but Back's (Next, Finish and disabled Finish set;
// the frame shows Finish enabled).
constexpr uint32_t AllButBackFlags = 0xFFFFFFFEu;

class CPage55 : public platform::ui::Page, public DriverChange {
public:
    CPage55();
    ~CPage55() override;
    bool onSetActive() override;

protected:
    bool onInitDialog() override;
    void onTimer(int timerId) override;
    void onCommand(int controlId, platform::ui::Notification code) override;

private:
    void runSteps();
    void light(int controlId);
};
