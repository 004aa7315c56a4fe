#include "production/production_dialog.h"

#include <cstdio>
#include <string>

#include "resources/about_box.h"
#include "config/program_state.h"
#include "config/firmware_config.h"
#include "production/usb_port_discovery.h"
#include "resources/icons.h"
#include "resources/texts.h"
#include "upload/upgrade_record.h"

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

    setTimer(StationTimerId, StationPollPeriodMs);
    lastPoll_ = platform::tickCount();
    listenForDevices();
    std::string unheard;
    if (station_.listenForPlugs(eventPoster(), &unheard) == PlugListening::Unheard) {
        std::fprintf(stderr, "Tarvo32: %s (%s); \"%s\" still works\n", PlugsUnheardText, unheard.c_str(),
                     UpgradeFirmwareText);
    }
    return true;
}

platform::DeviceChangeHandler ProductionDialog::eventPoster()
{
    // The listener threads only queue the event and, when the queue was empty, post; the window
    // id is fixed while they run.
    const WindowId window = handle();
    return [this, window](const platform::DeviceChange& change) {
        if (events_.push(change)) {
            postMessageFromAnyThread(window, PostedMessage{WmDeviceChange, change.event, 0});
        }
    };
}

void ProductionDialog::listenForDevices()
{
    platform::DeviceNotifyFailure why;
    DeviceListening result = station_.listenForDevices(eventPoster(), &why);
    if (result == DeviceListening::Failed && !toldNotListening_) {
        // Said once; the ticks go on trying (they may fire while the box is up).
        toldNotListening_ = true;
        std::string reason = deviceListeningFailureText(why);
        std::fprintf(stderr, "Tarvo32: cannot listen for USB modems: %s; trying again every %.1f s\n", reason.c_str(),
                     StationPollPeriodMs / 1000.0);
        messageBox(NotListeningTextStart + reason + NotListeningTextEnd, MessageBoxIcon::Exclamation);
    } else if (result == DeviceListening::Registered && toldNotListening_) {
        std::fputs("Tarvo32: listening for USB modems now\n", stderr);
    }
}

void ProductionDialog::onTimer(int timerId)
{
    if (timerId != StationTimerId) {
        return;
    }
    pollRows();
}

bool ProductionDialog::pollRows()
{
    lastPoll_ = platform::tickCount();
    if (station_.tick() == TickOutcome::Ended) {
        killTimer(StationTimerId);
        endDialog(IdOk);
        return false;
    }
    for (int row = 1; row <= StationRowCount; ++row) {
        drawRow(row, false);
    }
    // A modem plugged in while its row's pulled modem was still being stopped starts now that
    // the old worker has been collected; the next tick shows it.
    station_.startWaitingArrivals();
    if (toldNotListening_ && !station_.listening()) {
        listenForDevices();  // the registration failed: try again
    }
    // Once, after the rows show the run whose record could not be written.
    std::string warning = takeRecordWarning();
    if (!warning.empty()) {
        messageBox(recordWarningSentence(warning), MessageBoxIcon::Exclamation);
    }
    return true;
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
    const std::string& reason = station_.failureReason(row);
    if (everything || reason != drawnReasons_[row]) {
        for (int control : {ids.lamp, ids.label, ids.bar}) {
            setItemToolTip(control, reason);
        }
        drawnReasons_[row] = reason;
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
    if (uint64_t dropped = events_.takeDropped()) {
        std::fprintf(stderr, "%s\n", droppedDeviceEventsText(dropped).c_str());
    }
    platform::DeviceChange change;
    for (int handled = 0; handled < DeviceEventsPerMessage; ++handled) {
        if (!events_.pop(&change)) {
            return;  // the next event posts again
        }
        // The row shows the start or the stop on the next tick.
        std::string ignored = ignoredArrivalText(station_.deviceChange(change));
        if (!ignored.empty()) {
            std::fprintf(stderr, "%s\n", ignored.c_str());
        }
        // Posted messages come before timers: under a flood the poll is run from here.
        if (platform::elapsedSince(lastPoll_) >= StationPollPeriodMs) {
            setTimer(StationTimerId, StationPollPeriodMs);
            if (!pollRows()) {
                return;
            }
        }
    }
    // More may wait: handle them after whatever else is queued for the window.
    postMessage(WmDeviceChange);
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
    events_.clear();
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
