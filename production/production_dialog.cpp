#include "production/production_dialog.h"

#include <cstdio>

#include "resources/about_box.h"
#include "config/program_state.h"
#include "config/firmware_config.h"
#include "production/usb_port_discovery.h"
#include "resources/icons.h"
#include "platform/threads.h"
#include "resources/texts.h"

using namespace platform::ui;

namespace {

constexpr int BarLow = 0;
constexpr int BarHigh = 100;
constexpr const char* NoWindowSystemText = "Tarvo32: no window system to show the production-line dialog on\n";

}  // namespace

bool stationRowControls(int row, StationRowIds* ids)
{
    if (row < 1 || row > StationRowsShown || ids == nullptr) {
        return false;
    }
    *ids = StationRows[row - 1];
    return true;
}

ProductionDialog::ProductionDialog(UsbPortFinder finder)
    : Dialog(productionDialogTemplate()), station_(finder)
{
}

ProductionDialog::ProductionDialog() : ProductionDialog(findUsbModemPort) {}

ProductionDialog::~ProductionDialog()
{
    // Here, while the dialog is whole: the window layer's own clean-up would no longer reach
    // onDestroy.
    destroyWindow();
}

bool ProductionDialog::onInitDialog()
{
    // The operator must have read this before any row can start.
    messageBox(ProductionWarningText, ProductionWarningCaption, MessageBoxIcon::Exclamation,
               MessageBoxButtons::Ok);

    setItemText(IdcStationProduct, FirmwareConfig.Model_name);
    setItemText(IdcStationVersion, FirmwareConfig.Firmware_include_kernel
                                       ? FirmwareConfig.Firmware_version + KernelIncludedText
                                       : FirmwareConfig.Firmware_version);

    appendSystemMenu(SystemMenuSeparator, std::string());
    appendSystemMenu(SysCommandShutdown, ShutdownMenuText);
    if (*AboutMenuText != '\0') {
        appendSystemMenu(SysCommandAbout, AboutMenuText);
    }
    setIcon(IconApplication);

    station_.prepare();
    for (int row = 1; row <= StationRowCount; ++row) {
        StationRowIds ids{};
        stationRowControls(row, &ids);
        setProgressRange(ids.bar, BarLow, BarHigh);
        drawRow(row, true);
        // With the shifted base the template's "COM11:" to "COM18:" stand.
        if (!FirmwareConfig.SHIFT_COM_BASE) {
            setItemText(ids.label, rowLabel(row));
        }
    }

    // The listener thread only queues the event and posts; the window id is fixed while it runs.
    const WindowId window = handle();
    station_.listenForDevices(
        [this, window](const platform::DeviceChange& change) {
            {
                std::lock_guard<platform::Mutex> lock(eventsMutex_);
                events_.push_back(change);
            }
            postMessageFromAnyThread(window, PostedMessage{WmDeviceChange, change.event, 0});
        },
        nullptr);

    setTimer(StationTimerId, StationPollPeriodMs);
    return true;
}

void ProductionDialog::onTimer(int timerId)
{
    if (timerId != StationTimerId) {
        return;
    }
    if (station_.tick() == TickOutcome::Ended) {
        killTimer(StationTimerId);
        endDialog(IdOk);
        return;
    }
    for (int row = 1; row <= StationRowCount; ++row) {
        drawRow(row, false);
    }
}

void ProductionDialog::drawRow(int row, bool everything)
{
    StationRowIds ids{};
    if (!stationRowControls(row, &ids)) {
        return;
    }
    const RowDisplay& shown = station_.display(row);
    RowDisplay& drawn = drawn_[row];
    if (everything || shown.lamp != drawn.lamp) {
        setItemImage(ids.lamp, shown.lamp);
    }
    for (int i = 0; i < 3; ++i) {
        if (everything || shown.steps[i] != drawn.steps[i]) {
            setItemImage(ids.steps[i], shown.steps[i]);
        }
    }
    if (everything || shown.percentText != drawn.percentText) {
        setItemText(ids.percent, shown.percentText);
    }
    if (everything || shown.bar != drawn.bar) {
        setProgressPos(ids.bar, shown.bar);
    }
    drawn = shown;
}

void ProductionDialog::onCommand(int controlId, Notification code)
{
    if (code != Notification::Clicked) {
        return;
    }
    switch (controlId) {
    case IdcUpgradeFirmware:
        station_.startAllPorts();
        break;
    case IdcExitWhenAppropriate:
        enableItem(IdcUpgradeFirmware, false);
        enableItem(IdcExitWhenAppropriate, false);
        station_.requestExit();
        break;
    default:
        // OK and Cancel (Enter without a default button, Escape) end nothing here.
        break;
    }
}

void ProductionDialog::onUserMessage(const PostedMessage& message)
{
    if (message.message != WmDeviceChange) {
        return;
    }
    platform::DeviceChange change;
    {
        std::lock_guard<platform::Mutex> lock(eventsMutex_);
        if (events_.empty()) {
            return;
        }
        change = std::move(events_.front());
        events_.pop_front();
    }
    // The row shows the start or the stop on the next tick.
    station_.deviceChange(change);
}

void ProductionDialog::onSysCommand(uint32_t command)
{
    if (command == SysCommandShutdown) {
        if (messageBox(ShutdownQuestion, ShutdownCaption, MessageBoxIcon::Exclamation, MessageBoxButtons::YesNo) ==
            IdYes) {
            endDialog(IdOk);
        }
    } else if (command == SysCommandAbout) {
        showAboutBox(handle(), FirmwareConfig.Company_short_name, FirmwareConfig.Company_name);
    }
}

void ProductionDialog::onDestroy()
{
    killTimer(StationTimerId);
    station_.stopListening();
    {
        std::lock_guard<platform::Mutex> lock(eventsMutex_);
        events_.clear();
    }
    station_.stopAllWorkers();
}

void runProductionDialog()
{
    if (!backendAvailable()) {
        std::fputs(NoWindowSystemText, stderr);
        return;
    }
    ProductionDialog dialog;
    dialog.run();
}
