// The production-line dialog (ProductionDialog): the one window of production mode, eight port
// rows of lamp, label, three step squares, progress bar and percentage, "Upgrade firmware" and
// "Exit when appropriate", and two items of its own in the system menu ("Shutdown" after a Yes,
// the About box). All it decides is drawn from the station (production/station.h): the dialog
// starts ports, ticks the station every 800 ms and draws what each row's poll left to show;
// `Tarvo32 production` runs the same station without a window.
//
// Before the dialog shows, a warning about powering off the modems must be dismissed. OK and
// Cancel are ignored, so Enter presses "Upgrade firmware" and neither Escape nor the close box
// ends the dialog: it ends on the tick that finds no worker once "Exit when appropriate" was
// pressed (both buttons then grey for good), or on "Shutdown" answered Yes.
//
// On the 9x family the dialog registers for the USB modems' device notifications; the listener
// thread queues each event (production/device_event_queue.h: bounded, storms coalesced) and posts
// the device-change message when the queue was empty, so arrivals and removals are handled on the
// UI thread in the order they came. The message handles a few events at a time and posts itself
// again while more wait; a flood of them, which the window system serves before any timer, never
// starves the rows' poll: the handler polls itself once a period has passed without one (and sets
// the timer afresh). Nothing is registered on the NT family. On Linux, whatever the family, the
// dialog also listens to the device tree (udev) the same way; where it cannot, it says once on
// stderr that plugged modems will not start their rows and that "Upgrade firmware" still works. When the window goes, the
// registration is withdrawn (its socket removed) and every worker still running is asked to stop
// through keepRunning and joined: no thread is killed, so every port and file is closed.
//
// When the registration fails, a message box says why once (another station listens on this
// machine, or device events are not available) and every tick tries again until it succeeds.
// Each arrival the station ignores gets one line on stderr with the reason.
//
// Results: run() returns IdOk. A worker that cannot be started leaves its row idle; a failed
// upload shows as the dark-blue lamp, its reason as the row's tool tip (lamp, label and bar)
// until the row starts again.
// Thread rule: UI thread only, except the device-notification handler, which only queues and
// posts.
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/device_notify.h"
#include "platform/ui/window.h"
#include "production/device_event_queue.h"
#include "production/station.h"
#include "resources/dialogs.h"

constexpr uint32_t WmDeviceChange = 0x0219;     // WM_DEVICECHANGE: wParam the event, data queued
constexpr uint32_t SysCommandShutdown = 1000;  // system-menu item "Shutdown"
constexpr uint32_t SysCommandAbout = 16;       // system-menu item of the About box
constexpr int DeviceEventsPerMessage = 16;     // events one device-change message handles at most

// Row k's controls (1 to 8); false for any other row number.
bool stationRowControls(int row, StationRowIds* ids);

class ProductionDialog : public platform::ui::Dialog {
public:
    // The finder is findUsbModemPort unless a test gives its own.
    explicit ProductionDialog(UsbPortFinder finder);
    ProductionDialog();
    ~ProductionDialog() override;

    const ProductionStation& station() const { return station_; }
    bool listening() const { return station_.listening(); }
    size_t deviceEventsWaiting() const { return events_.size(); }

protected:
    bool onInitDialog() override;
    void onTimer(int timerId) override;
    void onCommand(int controlId, platform::ui::Notification code) override;
    void onUserMessage(const platform::ui::PostedMessage& message) override;
    void onSysCommand(uint32_t command) override;
    // The close box and Escape reach OnCancel, which does nothing here.
    void onClose() override {}
    void onDestroy() override;

private:
    // Draws row k as the station shows it, touching only the controls that differ.
    void drawRow(int row, bool everything);
    // The tick's work: the station's tick, the rows drawn, waiting arrivals started; the
    // registration tried again while it fails. False when the dialog ended.
    bool pollRows();
    // Registers for device events; on the first failure a message box says why.
    void listenForDevices();
    // The handler both listeners run: queue the event, post the device-change message.
    platform::DeviceChangeHandler eventPoster();

    // Device events on their way from the listener thread; declared before the station, whose
    // end stops the listener.
    DeviceEventQueue events_;
    ProductionStation station_;
    RowDisplay drawn_[StationRowCount + 1];  // what each row's controls show now
    platform::Ticks lastPoll_ = 0;           // when the rows were last polled
    bool toldNotListening_ = false;          // the registration failed (and its box was shown)
    std::string drawnReasons_[StationRowCount + 1];  // each row's tool tip now
};

// Runs the production dialog modally (start-up in production mode); without a window backend it
// says so on stderr instead.
void runProductionDialog();
