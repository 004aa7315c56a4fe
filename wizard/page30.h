// Summary page (CPage30): the warning, the firmware version and the chosen port, rebuilt from
// the shared state 100 ms after every activation (timer 8). It keeps no state of its own.
// Thread rule: UI thread only.
#pragma once

#include <string>

#include "platform/ui/window.h"
#include "wizard/log_edit_box.h"

constexpr int SummaryTimerId = 8;
constexpr uint32_t SummaryDelayMs = 100;

class CPage30 : public platform::ui::Page {
public:
    CPage30();
    bool onSetActive() override;

protected:
    void onTimer(int timerId) override;

private:
    LogEditBox summaryBox_;
};

// The summary for a firmware version and a port name.
std::string summaryText(const std::string& firmwareVersion, const std::string& portName);
