// Modem search page (CPage10): probes COM1 to COM8 on the UI thread, lists the ports where a
// modem of the configured product answered, and lets the user pick one or type a port number.
// What it leaves behind is CurrentModem (wizard/wizard_state.h): the chosen portName, and the
// port the last successful probe left open.
//
// The search of eight ports runs inside one timer handler; between two ports, and every
// WaitPumpMs inside a probe's waits, it takes one pending message. While a search or a probe
// runs, Back, Next and Help are refused by the sheet, a click on Others or on a list item is
// undone, and a typed-port probe waiting on its timer is dropped; Cancel or the close box end the
// probe's waits at once (within WaitPumpMs) and close the wizard.
// Leaving the page stops its timers, so no probe ever runs for a page that is not shown.
// Thread rule: UI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/window.h"

constexpr int SearchTimerId = 26;
constexpr uint32_t SearchDelayMs = 100;
constexpr int TypedPortTimerId = 9;
constexpr uint32_t TypedPortDelayMs = 50;
constexpr int ProbeMessageTimerId = 10;
constexpr uint32_t ProbeMessageDelayMs = 100;
constexpr uint32_t ProbeMessage = platform::ui::WmUser + 10;
constexpr uint32_t WaitPumpMs = 100;  // a probe's waits take a pending message this often
constexpr int FirstSearchPort = 1;
constexpr int LastSearchPort = 8;

class CPage10 : public platform::ui::Page {
public:
    CPage10();
    bool onSetActive() override;
    bool onKillActive() override;

    // For tests.
    const std::string& portText() const { return portText_; }
    const std::string& portNumberText() const { return portNumberText_; }
    bool firstVisit() const { return firstVisit_; }
    bool modemFound() const { return modemFound_; }
    bool searching() const { return searching_; }

protected:
    bool onInitDialog() override;
    void onTimer(int timerId) override;
    void onCommand(int controlId, platform::ui::Notification code) override;
    void onUserMessage(const platform::ui::PostedMessage& message) override;
    bool preTranslateKey(int controlId, platform::ui::Key key) override;

private:
    void searchAllPorts();
    // False when the wizard is closing (Cancel or the close box came during the probe).
    bool probeCurrentPort();
    void othersChosen();
    void tryTypedPort();
    void tryPort(const std::string& portName);
    void listSelection();
    void setStatus(const std::string& text);
    void readControls();
    void writeControls();
    void prepareProbe(const std::string& portName);

    platform::ui::ListBoxControl modemList_;
    std::string portText_;
    std::string portNumberText_;
    bool firstVisit_ = true;
    bool modemFound_ = false;
    bool searching_ = false;
    bool probing_ = false;
    bool activatedBefore_ = false;
};
