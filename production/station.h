// The production-line station without its window: the eight port rows (uploadJobs records 1 to
// 8, row k serving port ComBase + k - 1), starting a row's worker, the 800 ms tick with its
// exit-when-idle test, the poll that turns a record into what its row shows, the USB modems'
// arrival and removal, and the row labels. The production dialog draws what this keeps; the
// command line (`Tarvo32 production`) prints it. Neither draws anything here.
//
// A row's display is a plain record of what the dialog would show: lamp, three step squares,
// percentage text, bar. The poll changes it exactly as the dialog's rows change: blinking red and
// cyan while busy, the squares following the phase, the percentage rising only, "100%" as soon as
// every byte is acknowledged and the green lamp once the worker has ended too, a failure leaving
// the lamp dark blue and the rest as last shown, a removed modem's row held for seven polls and
// reset on the eighth.
//
// Workers are never killed: ending the station clears keepRunning and joins them (within a
// fraction of a second each), so every port and file is closed.
//
// Results: see each function; nothing is reported for a worker that cannot be started (its row
// stays idle).
// Thread rule: UI thread only, like the records' UI fields. Device events arrive on a listener
// thread and must be passed to the UI thread before deviceChange is called.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/device_notify.h"
#include "upload/upload_job.h"

constexpr int StationTimerId = 27;
constexpr uint32_t StationPollPeriodMs = 800;
constexpr int StationRowCount = ProductionPortCount;  // rows 1 to 8

// The device-interface classes the product's USB driver announces its modems with.
constexpr const char* DudeUsbModemClass = "{5C0A19E3-7D42-4B8F-A1C6-2E93D07B4F15}";
constexpr const char* OtherUsbModemClass = "{5C0A19E4-7D42-4B8F-A1C6-2E93D07B4F15}";

constexpr size_t DeviceKeyLimit = 16;  // characters of the interface name kept as the device key

constexpr int DoneBarValue = 100;
constexpr const char* RowIdlePercentText = "0%";

// What one row shows. Icons are the ids of resources/icons.h.
struct RowDisplay {
    int32_t lamp = 0;                    // IconLampIdle, IconLampDone, IconLampBusyA or B
    std::array<int32_t, 3> steps{};      // IconStepDone or IconStepPending each
    std::string percentText = RowIdlePercentText;
    int bar = 0;                         // 0 to 100
    // The bytes the percentage stands for: those it was computed from, or later ones that give
    // the same percentage; every byte of the total with "100%". A line that shows both never
    // contradicts itself (a failed row keeps both as last shown).
    uint32_t sentBytes = 0;
    uint32_t totalBytes = 0;

    bool operator==(const RowDisplay&) const = default;
};
RowDisplay idleRowDisplay();

// What one poll of a row found besides the display.
struct RowPoll {
    bool displayChanged = false;  // the row's display differs from before the poll
    bool started = false;         // the tick started an arrival that waited for the row (below)
    bool workerEnded = false;     // this poll collected the row's worker (its outcome is phase)
    int32_t phase = 0;            // read on this poll
    uint32_t sentBytes = 0;
    uint32_t totalBytes = 0;
};

enum class TickOutcome {
    Polled,  // rows 1 to 8 polled
    Ended,   // exit pending and no worker held: the station ends (stop the timer)
};

enum class DeviceListening {
    NotNeeded,   // the NT family: nothing is registered
    Registered,  // the 9x family: events come to the handler
    Failed,      // the 9x family, but the registration failed (the reason is filled in)
};

// Whether the host's device tree tells of modems plugged into the station's sockets.
enum class PlugListening {
    Listening,      // arrivals and removals come to the handler
    Unheard,        // it could and does not (udev does not run, ...): the reason is filled in
    NotOnThisHost,  // the host has no such events (Windows): nothing to say
};

// The product line's USB ids: the maker's modem and the sister brand's. The station takes the one
// of its protocol, as it registers for the driver's class (Firmware_from_DUDE_protocol).
constexpr uint16_t DudeUsbVendor = 0x4E2C;
constexpr uint16_t DudeUsbProduct = 0x7A01;
constexpr uint16_t OtherUsbVendor = 0x4E2B;
constexpr uint16_t OtherUsbProduct = 0x7A02;

// Said once by a station whose device tree gives no events, before the reason.
constexpr const char* PlugsUnheardText = "USB modems plugged in will not start their rows";

// What a device event did.
struct DeviceAction {
    enum Kind {
        None,     // not an event the station handles (another family, type or event, a removal
                  // of a modem it does not know)
        Started,  // an arrival started its row
        Waiting,  // an arrival for a row whose pulled modem's worker is ending: it starts as
                  // soon as that worker is collected
        Stopped,  // a removal stopped its row
        Ignored,  // an arrival the station does not act on (why says why)
    } kind = None;
    enum Why { NoReason, OtherClass, NoPortFound, NotServed, RowBusy } why = NoReason;
    int port = 0;     // the port the event was found to concern (0: none)
    std::string key;  // the event's device key
};

// The one stderr line for an ignored arrival: "Tarvo32: USB modem 0807060504030201 plugged in,
// ignored: COM3 is still busy with an upload"; empty for any other action.
std::string ignoredArrivalText(const DeviceAction& action);

// Why the registration for device events failed, for the operator: another station listens on
// this machine, or device events are not available (with the platform's words).
std::string deviceListeningFailureText(const platform::DeviceNotifyFailure& why);

// The USB port finder: findUsbModemPort's role (device key, UsbArrival or UsbRemoval) -> port.
using UsbPortFinder = int32_t (*)(const std::string& deviceKey, int32_t direction);

class ProductionStation {
public:
    // The finder is findUsbModemPort in the program; tests may give their own.
    explicit ProductionStation(UsbPortFinder finder);
    // Stops listening and ends every worker still held (keepRunning cleared, joined).
    ~ProductionStation();
    ProductionStation(const ProductionStation&) = delete;
    ProductionStation& operator=(const ProductionStation&) = delete;

    // Initialisation: exit not pending; records 1 to 8 prepared (port set, keepRunning 1,
    // everything else cleared, device keys emptied); every row idle and served.
    void prepare();

    // Restricts the rows whose ports may be started (by a call or a device arrival) to the ones
    // marked; the command line serves the ports it was given. All are served after prepare().
    void serveOnly(const std::array<bool, StationRowCount + 1>& servedRows);
    bool serves(int port) const;

    // startPortWorker(n): nothing for a port outside ComBase to ComBase + 7, one not served, or one
    // whose record still holds a worker; otherwise a fresh run (keepRunning and the device key
    // kept). True when a worker was started.
    bool startPortWorker(int port);
    // "Upgrade firmware": startPortWorker for ComBase to ComBase + 7 in this order.
    void startAllPorts();

    // "Exit when appropriate".
    void requestExit() { exitWhenIdle_ = 1; }
    bool exitPending() const { return exitWhenIdle_ != 0; }

    // The 800 ms tick: arrivals waiting for a row that is free now are started (RowPoll.started),
    // then the exit test (exit pending and no record holding a worker), then the poll of rows 1
    // to 8 (results in lastPoll). So the station ends on the tick after the one that collected
    // the last worker.
    TickOutcome tick();
    // Starts the arrivals waiting for rows whose worker has been collected, and gives their
    // ports. Owners call it as soon as they have taken a tick's results (the ended run's reason
    // is in its record until the next start); tick() does it too.
    std::vector<int> startWaitingArrivals();
    bool arrivalWaiting(int row) const { return validRow(row) && waiting_[row]; }
    // Poll of row k (1 to 8); a default result for another k.
    RowPoll pollRow(int row);
    const RowPoll& lastPoll(int row) const { return polls_[validRow(row) ? row : 0]; }

    const RowDisplay& display(int row) const { return displays_[validRow(row) ? row : 0]; }
    // Why row k's last run failed, in the words stderr gives: the tool tip of its lamp, label and
    // bar, beside the display (which it leaves as written). Set when the poll collects a failed
    // worker, kept through a reset after a removal, emptied when the row starts again.
    const std::string& failureReason(int row) const { return reasons_[validRow(row) ? row : 0]; }
    // True while row k's record holds a worker.
    bool busy(int row) const;
    // True when no record 1 to 8 holds a worker.
    bool idle() const;

    // Registers for the USB modems' device events on the 9x family (the class chosen by
    // Firmware_from_DUDE_protocol); the handler runs on the listener thread and must pass each
    // event on to the UI thread. The NT family registers nothing.
    DeviceListening listenForDevices(platform::DeviceChangeHandler handler, platform::DeviceNotifyFailure* why);
    // Listens to the host's device tree, whatever Windows version is acted: a modem of the
    // product line plugged into a socket that a row's port entry leads to starts that row, its
    // removal stops it. The same handler rule; why filled in for Unheard.
    PlugListening listenForPlugs(platform::DeviceChangeHandler handler, std::string* why);
    // Stops both kinds of listening.
    void stopListening();
    bool listening() const { return notifyHandle_ != 0; }
    bool listeningForPlugs() const { return plugHandle_ != 0; }

    // The device-change message, on the UI thread. Only on the 9x family and for a device
    // interface: an arrival found on a free row starts it (keepRunning 1, startPortWorker); one
    // for a row whose worker has ended or was told to stop waits for that worker to be
    // collected (keepRunning stays 0 until then, so the old run never resumes); any other
    // arrival is ignored with a reason. A removal found on a port stops it (the run's reason:
    // pulled out; the row held for seven polls) and drops an arrival waiting there.
    // A port device from the device tree, on any family: a modem of the product line on a row's
    // port is that row's arrival (its USB serial the device key) or removal, by the same rules;
    // any other arrival is ignored with one line on stderr saying why.
    DeviceAction deviceChange(const platform::DeviceChange& change);

    // Ends every worker still held: keepRunning cleared, joined, handles freed. Each such row
    // then shows its final state, as the poll that collects a worker leaves it, and lastPoll
    // says it was collected. Waiting arrivals are dropped.
    void stopAllWorkers();

private:
    static bool validRow(int row) { return row >= 1 && row <= StationRowCount; }
    // The last look at a collected worker's row: green only when it succeeded with every byte.
    void showCollected(int row);
    DeviceAction portDeviceChange(const platform::DeviceChange& change);  // production/station_plugs.cpp
    // An arrival or removal found to concern a port the station serves, from either source.
    DeviceAction arrivalOnPort(int port, DeviceAction action);
    DeviceAction removalOnPort(int port, DeviceAction action);

    UsbPortFinder finder_;
    int32_t exitWhenIdle_ = 0;
    platform::DeviceNotifyHandle notifyHandle_ = 0;
    platform::DeviceNotifyHandle plugHandle_ = 0;
    std::array<bool, StationRowCount + 1> served_{};
    std::array<RowDisplay, StationRowCount + 1> displays_{};  // index 0 unused
    std::array<RowPoll, StationRowCount + 1> polls_{};
    std::array<bool, StationRowCount + 1> waiting_{};  // an arrival waits for the row's worker
    std::array<std::string, StationRowCount + 1> reasons_{};
};

// The device key of an interface name: at most 16 characters from the one after the last
// backslash (or from the first when there is none).
std::string deviceKeyOf(const std::string& interfaceName);

// The label of row k: "COM1:" to "COM8:" with ComBase 1, "COM11:" to "COM18:" with ComBase 11.
std::string rowLabel(int row);
// The port of row k (ComBase + k - 1); 0 for another k.
int rowPort(int row);

// The device-interface class the station registers for.
const char* usbModemClass();
// The USB ids of the modems the station takes from the device tree, by the same rule.
uint16_t usbModemVendor();
uint16_t usbModemProduct();
