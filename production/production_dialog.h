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
// thread queues each event and posts the device-change message to the window, so arrivals and
// removals are handled on the UI thread in the order they came. Nothing is registered on the NT
// family. When the window goes, the registration is withdrawn (its socket removed) and every
// worker still running is asked to stop through keepRunning and joined: no thread is killed, so
// every port and file is closed.
//
// Results: run() returns IdOk. A worker that cannot be started leaves its row idle; a failed
// upload shows only as the dark-blue lamp; a failed registration leaves the dialog without device
// events (the command line says why; the dialog has no messages of its own for it).
// Thread rule: UI thread only, except the device-notification handler, which only queues and
// posts.
#pragma once

#include <cstdint>
#include <deque>

#include "platform/device_notify.h"
#include "platform/threads.h"
#include "platform/ui/window.h"
#include "production/station.h"
#include "resources/dialogs.h"

constexpr uint32_t WmDeviceChange = 0x0219;     // WM_DEVICECHANGE: wParam the event, data queued
constexpr uint32_t SysCommandShutdown = 1000;  // system-menu item "Shutdown"
constexpr uint32_t SysCommandAbout = 16;       // system-menu item of the About box

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

    // Device events on their way from the listener thread; declared before the station, whose
    // end stops the listener.
    platform::Mutex eventsMutex_;
    std::deque<platform::DeviceChange> events_;
    ProductionStation station_;
    RowDisplay drawn_[StationRowCount + 1];  // what each row's controls show now
};

// Runs the production dialog modally (start-up in production mode); without a window backend it
// says so on stderr instead.
void runProductionDialog();
