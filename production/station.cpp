#include "production/station.h"

#include "config/program_state.h"
#include "config/firmware_config.h"
#include "production/usb_port_discovery.h"
#include "resources/icons.h"
#include "upload/upload_reason.h"
#include "upload/upload_workers.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

constexpr int StepsOfPreparing = 1;  // phases Idle to StartingUpload
constexpr int StepsOfAwaiting = 2;   // AwaitingReceiver
constexpr int StepsOfTransfer = 3;   // Transferring
constexpr int AllAcknowledgedBar = 100;
constexpr const char* AllAcknowledgedText = "100%";

constexpr const char* PortPrefix = "COM";
constexpr const char* LabelSuffix = ":";
constexpr const char* ShiftedLabelPrefix = "COM1";  // the template's "COM11:" to "COM18:"

constexpr const char* IgnoredArrivalPrefix = "Tarvo32: USB modem ";
constexpr const char* IgnoredArrivalMiddle = " plugged in, ignored: ";
constexpr const char* OtherStationText = "another station listens for USB modems on this machine";
constexpr const char* NoDeviceEventsText = "device events are not available";

UploadJob& recordOf(int row)
{
    return uploadJobs[FirstProductionJob + row - 1];
}

void showSteps(RowDisplay& display, int reached)
{
    for (int i = 0; i < 3; ++i) {
        display.steps[i] = reached > i ? IconStepDone : IconStepPending;
    }
}

// The busy lamp alternates red and cyan from one poll to the next.
void blinkLamp(RowDisplay& display, UploadJob& job)
{
    if (job.blink != 0) {
        display.lamp = IconLampBusyA;
        job.blink = 0;
    } else {
        display.lamp = IconLampBusyB;
        job.blink = 1;
    }
}

}  // namespace

RowDisplay idleRowDisplay()
{
    RowDisplay display;
    display.lamp = IconLampIdle;
    showSteps(display, 0);
    display.percentText = RowIdlePercentText;
    display.bar = 0;
    return display;
}

std::string deviceKeyOf(const std::string& interfaceName)
{
    size_t backslash = interfaceName.rfind('\\');
    size_t start = backslash == std::string::npos ? 0 : backslash + 1;
    // substr bounds the copy by the name's own end, so a short, long or odd name is safe.
    std::string key = interfaceName.substr(start, DeviceKeyLimit);
    // The name is a single-byte string: anything after a zero byte is not part of it.
    size_t zero = key.find('\0');
    if (zero != std::string::npos) {
        key.resize(zero);
    }
    return key;
}

int rowPort(int row)
{
    return row >= 1 && row <= StationRowCount ? FirmwareConfig.ComBase + row - 1 : 0;
}

std::string rowLabel(int row)
{
    if (row < 1 || row > StationRowCount) {
        return std::string();
    }
    if (FirmwareConfig.SHIFT_COM_BASE) {
        return ShiftedLabelPrefix + std::to_string(row) + LabelSuffix;
    }
    return PortPrefix + std::to_string(row) + LabelSuffix;
}

const char* usbModemClass()
{
    return FirmwareConfig.Firmware_from_DUDE_protocol ? DudeUsbModemClass : OtherUsbModemClass;
}

ProductionStation::ProductionStation(UsbPortFinder finder) : finder_(finder)
{
    served_.fill(true);
    displays_.fill(idleRowDisplay());
}

ProductionStation::~ProductionStation()
{
    stopListening();
    stopAllWorkers();
}

void ProductionStation::prepare()
{
    exitWhenIdle_ = 0;
    prepareProductionJobs();
    served_.fill(true);
    displays_.fill(idleRowDisplay());
    polls_.fill(RowPoll{});
    reasons_.fill(std::string());
}

void ProductionStation::serveOnly(const std::array<bool, StationRowCount + 1>& servedRows)
{
    served_ = servedRows;
}

bool ProductionStation::serves(int port) const
{
    int index = productionJobIndex(port);
    return index >= FirstProductionJob && served_[index - FirstProductionJob + 1];
}

bool ProductionStation::startPortWorker(int port)
{
    if (!serves(port)) {
        return false;
    }
    UploadJob& job = uploadJobs[productionJobIndex(port)];
    if (job.threadHandle != nullptr) {
        return false;
    }
    startProductionUpload(port);
    if (job.threadHandle == nullptr) {
        return false;
    }
    reasons_[productionJobIndex(port) - FirstProductionJob + 1].clear();
    return true;
}

void ProductionStation::startAllPorts()
{
    for (int row = 1; row <= StationRowCount; ++row) {
        startPortWorker(rowPort(row));
    }
}

bool ProductionStation::busy(int row) const
{
    return validRow(row) && recordOf(row).threadHandle != nullptr;
}

bool ProductionStation::idle() const
{
    for (int row = 1; row <= StationRowCount; ++row) {
        if (busy(row)) {
            return false;
        }
    }
    return true;
}

TickOutcome ProductionStation::tick()
{
    std::array<bool, StationRowCount + 1> started{};
    for (int port : startWaitingArrivals()) {
        started[productionJobIndex(port) - FirstProductionJob + 1] = true;
    }
    if (exitWhenIdle_ != 0 && idle()) {
        return TickOutcome::Ended;
    }
    for (int row = 1; row <= StationRowCount; ++row) {
        polls_[row] = pollRow(row);
        polls_[row].started = started[row];
    }
    return TickOutcome::Polled;
}

std::vector<int> ProductionStation::startWaitingArrivals()
{
    std::vector<int> started;
    for (int row = 1; row <= StationRowCount; ++row) {
        if (!waiting_[row] || busy(row)) {
            continue;
        }
        waiting_[row] = false;
        recordOf(row).keepRunning.store(1, relaxed);
        if (startPortWorker(rowPort(row))) {
            started.push_back(rowPort(row));
        }
    }
    return started;
}

RowPoll ProductionStation::pollRow(int row)
{
    RowPoll result;
    if (!validRow(row)) {
        return result;
    }
    UploadJob& job = recordOf(row);
    RowDisplay& display = displays_[row];
    const RowDisplay before = display;
    auto ended = [&] {
        if (workerEnded(job)) {
            result.workerEnded = true;
            return true;
        }
        return false;
    };
    auto finish = [&] {
        if (result.workerEnded && job.phase.load(relaxed) != Succeeded) {
            // Joined: the reason and its detail are final.
            reasons_[row] = uploadReasonText(job.failReason.load(std::memory_order_acquire), job.failDetail);
        }
        result.displayChanged = !(display == before);
        result.sentBytes = job.sentBytes.load(relaxed);
        result.totalBytes = job.totalBytes.load(relaxed);
        return result;
    };
    result.phase = job.phase.load(relaxed);

    // A removed modem's row: its worker is collected, the display held, then reset.
    if (job.keepRunning.load(relaxed) == 0) {
        if (job.threadHandle != nullptr) {
            ended();
        }
        if (job.resetCountdown > 0) {
            --job.resetCountdown;
        } else {
            display = idleRowDisplay();
        }
    }
    if (job.threadHandle == nullptr) {
        return finish();
    }

    result.phase = job.phase.load(relaxed);
    switch (result.phase) {
    case Idle:
    case OpeningPort:
    case ModemReady:
    case StartingUpload:
    case AwaitingReceiver:
        blinkLamp(display, job);
        showSteps(display, result.phase == AwaitingReceiver ? StepsOfAwaiting : StepsOfPreparing);
        display.percentText = RowIdlePercentText;
        display.bar = 0;
        display.sentBytes = 0;
        display.totalBytes = job.totalBytes.load(relaxed);
        break;
    case Transferring:
        blinkLamp(display, job);
        showSteps(display, StepsOfTransfer);
        break;
    case Failed:
        if (ended()) {
            display.lamp = IconLampIdle;
        }
        break;
    default:
        break;
    }

    if (job.threadHandle != nullptr) {
        ProgressView view = pollProgress(job);
        if (view.totalBytes != 0) {
            if (view.allAcknowledged) {
                if (ended()) {
                    display.lamp = IconLampDone;
                }
                display.percentText = AllAcknowledgedText;
                display.bar = AllAcknowledgedBar;
            } else if (view.changed) {
                display.percentText = percentText(view.percent);
                display.bar = view.percent;
                display.sentBytes = view.sentBytes;
                display.totalBytes = view.totalBytes;
            } else if (job.percent == job.shownPercent && display.percentText != AllAcknowledgedText) {
                // Later bytes that still give the percentage shown.
                display.sentBytes = view.sentBytes;
                display.totalBytes = view.totalBytes;
            }
            if (view.allAcknowledged) {
                display.sentBytes = view.totalBytes;
                display.totalBytes = view.totalBytes;
            }
        }
    }
    // A worker that has ended but was not collected above (its last phase read before it was
    // written, or a run that ended without either outcome) is collected here, without the wait,
    // or the row would blink for ever and an exit never come. Once joined its fields are final:
    // green only when every byte was acknowledged.
    if (job.threadHandle != nullptr && job.threadEnded.load(std::memory_order_acquire) != 0 && ended()) {
        showCollected(row);
    }
    if (result.workerEnded) {
        result.phase = job.phase.load(relaxed);
    }
    return finish();
}

void ProductionStation::showCollected(int row)
{
    const UploadJob& job = recordOf(row);
    RowDisplay& display = displays_[row];
    uint32_t total = job.totalBytes.load(relaxed);
    bool allAcknowledged = total != 0 && job.sentBytes.load(relaxed) == total;
    if (job.phase.load(relaxed) == Succeeded && allAcknowledged) {
        display.lamp = IconLampDone;
        display.percentText = AllAcknowledgedText;
        display.bar = AllAcknowledgedBar;
        display.sentBytes = total;
        display.totalBytes = total;
    } else {
        display.lamp = IconLampIdle;
    }
}

DeviceListening ProductionStation::listenForDevices(platform::DeviceChangeHandler handler,
                                                    platform::DeviceNotifyFailure* why)
{
    if (OsFlavor.IsWin9x == 0) {
        return DeviceListening::NotNeeded;
    }
    if (notifyHandle_ != 0) {
        return DeviceListening::Registered;
    }
    notifyHandle_ = platform::registerDeviceNotification(usbModemClass(), std::move(handler), why);
    return notifyHandle_ != 0 ? DeviceListening::Registered : DeviceListening::Failed;
}

void ProductionStation::stopListening()
{
    if (notifyHandle_ != 0) {
        platform::unregisterDeviceNotification(notifyHandle_);
        notifyHandle_ = 0;
    }
    if (plugHandle_ != 0) {
        platform::unregisterPortNotification(plugHandle_);
        plugHandle_ = 0;
    }
}

DeviceAction ProductionStation::deviceChange(const platform::DeviceChange& change)
{
    if (change.deviceType == platform::DbtDevtypPort) {
        return portDeviceChange(change);
    }
    DeviceAction action;
    if (OsFlavor.IsWin9x == 0 || change.deviceType != platform::DbtDevtypDeviceInterface) {
        return action;
    }
    action.key = deviceKeyOf(change.name);
    auto ignore = [&](DeviceAction::Why why) {
        action.kind = DeviceAction::Ignored;
        action.why = why;
        return action;
    };
    if (change.event == platform::DbtDeviceArrival) {
        if (change.otherClass) {
            return ignore(DeviceAction::OtherClass);
        }
        int port = finder_(action.key, UsbArrival);
        action.port = port;
        if (port == 0) {
            return ignore(DeviceAction::NoPortFound);
        }
        if (!serves(port)) {
            return ignore(DeviceAction::NotServed);
        }
        return arrivalOnPort(port, action);
    } else if (change.event == platform::DbtDeviceRemoveComplete && !change.otherClass) {
        int port = finder_(action.key, UsbRemoval);
        if (port != 0 && serves(port)) {
            return removalOnPort(port, action);
        }
    }
    return action;
}

DeviceAction ProductionStation::arrivalOnPort(int port, DeviceAction action)
{
    action.port = port;
    int row = productionJobIndex(port) - FirstProductionJob + 1;
    UploadJob& job = recordOf(row);
    if (job.threadHandle == nullptr) {
        waiting_[row] = false;
        job.keepRunning.store(1, relaxed);
        if (startPortWorker(port)) {
            action.kind = DeviceAction::Started;
        }
    } else if (job.keepRunning.load(relaxed) == 0 || job.threadEnded.load(std::memory_order_acquire) != 0) {
        // The pulled modem's worker is on its way out; keepRunning stays 0 so that it does not go
        // on with the new modem's port.
        waiting_[row] = true;
        action.kind = DeviceAction::Waiting;
    } else {
        action.kind = DeviceAction::Ignored;
        action.why = DeviceAction::RowBusy;
    }
    return action;
}

DeviceAction ProductionStation::removalOnPort(int port, DeviceAction action)
{
    action.port = port;
    action.kind = DeviceAction::Stopped;
    waiting_[productionJobIndex(port) - FirstProductionJob + 1] = false;
    stopProductionPort(port);
    return action;
}

void ProductionStation::stopAllWorkers()
{
    std::array<bool, StationRowCount + 1> held{};
    for (int row = 1; row <= StationRowCount; ++row) {
        held[row] = busy(row);
    }
    waiting_.fill(false);
    killWorkers(FirstProductionJob, LastProductionJob);
    for (int row = 1; row <= StationRowCount; ++row) {
        if (!held[row]) {
            continue;
        }
        const RowDisplay before = displays_[row];
        showCollected(row);
        const UploadJob& job = recordOf(row);
        RowPoll& poll = polls_[row];
        poll = RowPoll{};
        poll.displayChanged = !(displays_[row] == before);
        poll.workerEnded = true;
        poll.phase = job.phase.load(relaxed);
        poll.sentBytes = job.sentBytes.load(relaxed);
        poll.totalBytes = job.totalBytes.load(relaxed);
    }
}

std::string ignoredArrivalText(const DeviceAction& action)
{
    if (action.kind != DeviceAction::Ignored) {
        return std::string();
    }
    const std::string port = PortPrefix + std::to_string(action.port);
    std::string why;
    switch (action.why) {
    case DeviceAction::OtherClass:
        why = std::string("a modem of another device class than this station's ") + usbModemClass();
        break;
    case DeviceAction::NoPortFound:
        why = "no port of the station found for it (COM" + std::to_string(FirmwareConfig.ComBase) + " to COM" +
              std::to_string(FirmwareConfig.ComBase + StationRowCount - 1) + ")";
        break;
    case DeviceAction::NotServed: why = port + " is not one of the ports this station serves"; break;
    case DeviceAction::RowBusy: why = port + " is still busy with an upload"; break;
    case DeviceAction::NoReason: break;
    }
    // The key comes from outside: only its printable characters are shown.
    std::string key;
    for (char c : action.key) {
        key += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return IgnoredArrivalPrefix + key + IgnoredArrivalMiddle + why;
}

std::string deviceListeningFailureText(const platform::DeviceNotifyFailure& why)
{
    if (why.error == platform::DeviceNotifyError::InUse) {
        return OtherStationText;
    }
    return why.text.empty() ? std::string(NoDeviceEventsText) : NoDeviceEventsText + std::string(" (") + why.text + ")";
}
