#include "production/station.h"

#include "config/program_state.h"
#include "config/firmware_config.h"
#include "production/usb_port_discovery.h"
#include "resources/icons.h"
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
    return job.threadHandle != nullptr;
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
    if (exitWhenIdle_ != 0 && idle()) {
        return TickOutcome::Ended;
    }
    for (int row = 1; row <= StationRowCount; ++row) {
        polls_[row] = pollRow(row);
    }
    return TickOutcome::Polled;
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
            }
        }
    }
    // A worker that has ended but was not collected above (its last phase read before it was
    // written, or a run that ended without either outcome) is collected here, without the wait,
    // or the row would blink for ever and an exit never come. Once joined its fields are final:
    // green only when every byte was acknowledged.
    if (job.threadHandle != nullptr && job.threadEnded.load(std::memory_order_acquire) != 0 && ended()) {
        uint32_t total = job.totalBytes.load(relaxed);
        bool allAcknowledged = total != 0 && job.sentBytes.load(relaxed) == total;
        if (job.phase.load(relaxed) == Succeeded && allAcknowledged) {
            display.lamp = IconLampDone;
            display.percentText = AllAcknowledgedText;
            display.bar = AllAcknowledgedBar;
        } else {
            display.lamp = IconLampIdle;
        }
    }
    if (result.workerEnded) {
        result.phase = job.phase.load(relaxed);
    }
    return finish();
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
    std::string key = deviceKeyOf(change.name);
    if (change.event == platform::DbtDeviceArrival) {
        int port = finder_(key, UsbArrival);
        if (port != 0 && serves(port)) {
            action.port = port;
            uploadJobs[productionJobIndex(port)].keepRunning.store(1, relaxed);
            if (startPortWorker(port)) {
                action.kind = DeviceAction::Started;
            }
        }
    } else if (change.event == platform::DbtDeviceRemoveComplete) {
        int port = finder_(key, UsbRemoval);
        if (port != 0 && serves(port)) {
            action.port = port;
            action.kind = DeviceAction::Stopped;
            stopProductionPort(port);
        }
    }
    return action;
}

void ProductionStation::stopAllWorkers()
{
    killWorkers(FirstProductionJob, LastProductionJob);
}
