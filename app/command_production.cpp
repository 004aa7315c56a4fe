// `Tarvo32 production [--json] [--watch] [PORT...]`: the production-line station without its
// window. The same station logic as the dialog (records 1 to 8, the 800 ms tick and the poll of a
// row, USB arrivals and removals) started on the listed ports; what the rows show goes to stderr
// (one live line per port on a terminal, a plain line per change otherwise) and the outcome of
// every worker to stdout, as text lines or JSON objects.
//
// Without --watch it ends one tick after the last started worker has ended ("Exit when
// appropriate" pressed at once) and prints one result per listed port in port order. With
// --watch it runs until SIGINT or SIGTERM, listens for USB modems (udev on Linux whatever the
// family, the driver's notices on the 9x family; saying so, and when it cannot, why, trying the
// notices again every tick), and prints a result each time a worker ends; each arrival it does
// not act on gets a line on stderr saying why. Device events are
// handled one at a time between the ticks and the signal checks, from a bounded queue. Signals
// stop every worker through keepRunning, never by killing a thread; the last table then shows
// each row's final state.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/commands.h"
#include "app/interrupts.h"
#include "app/startup.h"
#include "config/firmware_config.h"
#include "platform/clock.h"
#include "platform/device_notify.h"
#include "platform/com_port_name.h"
#include "platform/console.h"
#include "platform/serial_device.h"
#include "production/device_event_queue.h"
#include "production/station.h"
#include "production/usb_port_discovery.h"
#include "resources/icons.h"
#include "upload/upgrade_record.h"
#include "upload/upload_reason.h"
#include "upload/upload_workers.h"

namespace {

constexpr uint32_t EventCheckMs = 50;  // how soon Ctrl-C or a device event is acted on

constexpr const char* UsageText =
    "Usage: Tarvo32 production [--json] [--watch] [PORT...]\n"
    "  PORT     COM3 or 3, one of the station's eight ports (default: all eight)\n"
    "  --json   JSON lines on stdout: progress and result objects\n"
    "  --watch  keep running; start a USB modem's port when it is plugged in (udev on Linux; the\n"
    "           driver's notices on the Windows 9x family), stop it when it is pulled out; end\n"
    "           with Ctrl-C or SIGTERM\n";

constexpr const char* SucceededWord = "Succeeded";
constexpr const char* FailedWord = "Failed";
constexpr const char* AbsentWord = "absent";

constexpr const char* LampIdleWord = "idle";
constexpr const char* LampBusyWord = "busy";
constexpr const char* LampSucceededWord = "succeeded";
constexpr const char* LampFailedWord = "failed";

constexpr int StepCount = 3;
constexpr const char* StopHintText = "Tarvo32 production: Ctrl-C or SIGTERM ends the station\n";
constexpr double MillisecondsPerSecond = 1000.0;

std::string portName(int port)
{
    return "COM" + std::to_string(port);
}

bool hasPortEntry(int port)
{
    return platform::systemPortExists(portName(port));
}

// One listed port as the command line follows it.
struct PortState {
    int port = 0;
    int row = 0;
    bool absent = false;
    bool started = false;   // a worker was started in the current round
    bool ended = false;     // ... and has ended
    bool everStarted = false;
    int32_t outcome = Idle;
    uint32_t sent = 0;
    uint32_t total = 0;
    platform::Ticks startTicks = 0;
    double seconds = 0;
    std::string shown;      // the last progress key printed (phase, percent, lamp words)
    int32_t furthestPhase = Idle;  // the furthest working phase a poll saw in this round
    std::string reason;     // why the round failed, in words
    bool mayLackFirmware = false;
    std::string serial;     // the modem's USB serial, when a device event brought it
    std::string startTime;  // UTC, ISO 8601, as the upgrade record has them
    std::string endTime;
};

class ProductionCommand {
public:
    ProductionCommand(bool json, bool watch, const std::vector<int>& ports)
        : json_(json), watch_(watch), terminal_(platform::stderrIsTerminal()), events_(), station_(findUsbModemPort)
    {
        for (int port : ports) {
            PortState state;
            state.port = port;
            state.row = productionJobIndex(port) - FirstProductionJob + 1;
            ports_.push_back(state);
        }
    }

    int run(const InterruptWatch& interrupts)
    {
        station_.prepare();
        std::array<bool, StationRowCount + 1> served{};
        for (const PortState& p : ports_) {
            served[p.row] = true;
        }
        station_.serveOnly(served);

        if (watch_) {
            DeviceListening listening = listenForDevices();
            std::string unheard;
            PlugListening plugs = station_.listenForPlugs(
                [this](const platform::DeviceChange& change) { events_.push(change); }, &unheard);
            if (plugs == PlugListening::Unheard) {
                std::fprintf(stderr, "Tarvo32 production: %s (%s); the listed ports are started all the same\n",
                             PlugsUnheardText, unheard.c_str());
            }
            if (listening == DeviceListening::NotNeeded) {
                std::fputs(plugs == PlugListening::Listening
                               ? "Tarvo32 production: listening for USB modems\n"
                               : "Tarvo32 production: the NT family sends no USB modem events; "
                                 "only the listed ports are started\n",
                           stderr);
                std::fputs(StopHintText, stderr);
            }
        }

        for (PortState& p : ports_) {
            if (!hasPortEntry(p.port)) {
                p.absent = true;
                std::fprintf(stderr, "%s absent: no port entry %s\n", portName(p.port).c_str(),
                             platform::systemPortLocation(portName(p.port)).c_str());
                if (watch_) {
                    printResult(p);
                }
                continue;
            }
            if (station_.startPortWorker(p.port)) {
                markStarted(p);
            } else {
                // The worker could not be created: it failed without running.
                p.everStarted = true;
                p.started = true;
                p.ended = true;
                p.outcome = Failed;
                p.reason = "the upload could not be started";
                p.mayLackFirmware = false;
                if (watch_) {
                    printResult(p);
                }
            }
        }
        showProgress(true);

        if (!watch_) {
            if (!anyRunning()) {
                return finish();
            }
            // As "Exit when appropriate" pressed at once: the station ends one tick after the
            // last worker has been collected.
            station_.requestExit();
        }
        for (;;) {
            if (!waitOneTick(interrupts)) {
                stopEverything();
                endTerminalBlock();
                if (watch_) {
                    return SucceededExitStatus;
                }
                finish();
                return FailedExitStatus;
            }
            if (station_.tick() == TickOutcome::Ended) {
                break;
            }
            collect();
            showProgress(false);
            if (toldNotListening_ && !station_.listening()) {
                listenForDevices();  // the registration failed: try again
            }
        }
        endTerminalBlock();
        return finish();
    }

private:
    // Registers for USB modems' events; says on stderr that it listens and how to stop, or why
    // it cannot (once: every tick tries again).
    DeviceListening listenForDevices()
    {
        platform::DeviceNotifyFailure why;
        DeviceListening listening = station_.listenForDevices(
            [this](const platform::DeviceChange& change) { events_.push(change); }, &why);
        if (listening == DeviceListening::Failed && !toldNotListening_) {
            toldNotListening_ = true;
            std::fprintf(stderr, "Tarvo32 production: cannot listen for USB modems: %s; trying again every %.1f s\n",
                         deviceListeningFailureText(why).c_str(), StationPollPeriodMs / MillisecondsPerSecond);
            std::fputs(StopHintText, stderr);
        } else if (listening == DeviceListening::Registered) {
            std::fputs(toldNotListening_ ? "Tarvo32 production: listening for USB modems now\n"
                                         : "Tarvo32 production: listening for USB modems\n",
                       stderr);
            if (!toldNotListening_) {
                std::fputs(StopHintText, stderr);
            }
        }
        std::fflush(stderr);
        return listening;
    }

    bool anyRunning() const
    {
        return std::any_of(ports_.begin(), ports_.end(), [](const PortState& p) { return p.started && !p.ended; });
    }

    void markStarted(PortState& p)
    {
        p.absent = false;
        p.started = true;
        p.everStarted = true;
        p.ended = false;
        p.outcome = Idle;
        p.startTicks = platform::tickCount();
        p.shown.clear();
        p.furthestPhase = Idle;
        p.reason.clear();
        p.mayLackFirmware = false;
        p.serial.clear();
        p.startTime.clear();
        p.endTime.clear();
    }

    PortState* stateOf(int port)
    {
        for (PortState& p : ports_) {
            if (p.port == port) {
                return &p;
            }
        }
        return nullptr;
    }

    // One poll period: false when an interrupt came. Device events are handled here one at a
    // time as they come, as the dialog handles them between its timer ticks; the signal and the
    // period's end are checked between any two, so a flood delays neither.
    bool waitOneTick(const InterruptWatch& interrupts)
    {
        const platform::Ticks start = platform::tickCount();
        for (;;) {
            if (interrupts.requested()) {
                return false;
            }
            uint32_t elapsed = platform::elapsedSince(start);
            if (elapsed >= StationPollPeriodMs) {
                return true;
            }
            if (uint64_t dropped = events_.takeDropped()) {
                std::fprintf(stderr, "%s\n", droppedDeviceEventsText(dropped).c_str());
            }
            platform::DeviceChange change;
            if (events_.pop(&change)) {
                handleDeviceChange(change);
                continue;
            }
            uint32_t left = StationPollPeriodMs - elapsed;
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, EventCheckMs)));
        }
    }

    void handleDeviceChange(const platform::DeviceChange& change)
    {
        DeviceAction action = station_.deviceChange(change);
        std::string ignored = ignoredArrivalText(action);
        if (!ignored.empty()) {
            std::fprintf(stderr, "%s\n", ignored.c_str());
        }
        PortState* p = stateOf(action.port);
        if (p && action.kind == DeviceAction::Started) {
            markStarted(*p);
            showProgress(false);
        }
    }

    void collect()
    {
        for (PortState& p : ports_) {
            const RowPoll& poll = station_.lastPoll(p.row);
            if (poll.started) {
                markStarted(p);
            }
            if (p.started && !p.ended && poll.phase <= Transferring) {
                p.furthestPhase = std::max(p.furthestPhase, poll.phase);
            }
            if (poll.workerEnded && p.started && !p.ended) {
                ended(p, poll.phase, poll.sentBytes, poll.totalBytes);
            }
        }
        // A modem plugged in while the row's pulled modem was being stopped: its run starts now
        // that the old one's result is out.
        for (int port : station_.startWaitingArrivals()) {
            if (PortState* p = stateOf(port)) {
                markStarted(*p);
            }
        }
    }

    void ended(PortState& p, int32_t phase, uint32_t sent, uint32_t total)
    {
        p.ended = true;
        p.outcome = phase == Succeeded ? Succeeded : Failed;
        // The worker has been joined: its run facts, reason and detail are final.
        const UploadJob& job = uploadJobs[p.row];
        p.serial = job.run.serial;
        p.startTime = job.run.startTime;
        p.endTime = job.run.endTime;
        sayRecordWarning();
        if (p.outcome == Failed) {
            int32_t reason = job.failReason.load(std::memory_order_acquire);
            p.reason = uploadReasonText(reason, job.failDetail);
            p.mayLackFirmware = modemMayLackFirmware(reason, p.furthestPhase);
        }
        p.sent = sent;
        p.total = total;
        p.seconds = platform::elapsedSince(p.startTicks) / MillisecondsPerSecond;
        if (watch_) {
            showProgress(false);
            printResult(p);
        }
    }

    // Signals: every worker is asked to stop and joined; their outcomes are what they wrote,
    // and their rows show them as the poll that collects a worker would.
    void stopEverything()
    {
        std::vector<PortState*> running;
        for (PortState& p : ports_) {
            if (p.started && !p.ended && station_.busy(p.row)) {
                running.push_back(&p);
            }
        }
        station_.stopListening();
        station_.stopAllWorkers();
        for (PortState* p : running) {
            const RowPoll& poll = station_.lastPoll(p->row);
            ended(*p, poll.phase, poll.sentBytes, poll.totalBytes);
        }
        showProgress(false);
    }

    int finish()
    {
        bool anyStarted = false;
        bool allSucceeded = true;
        for (const PortState& p : ports_) {
            if (!watch_) {
                printResult(p);
            }
            if (p.everStarted) {
                anyStarted = true;
                allSucceeded = allSucceeded && p.outcome == Succeeded;
            }
        }
        return anyStarted && allSucceeded ? SucceededExitStatus : FailedExitStatus;
    }

    const char* lampWords(const PortState& p) const
    {
        if (p.absent) {
            return AbsentWord;
        }
        int32_t lamp = station_.display(p.row).lamp;
        if (lamp == IconLampDone) {
            return LampSucceededWord;
        }
        if (lamp == IconLampBusyA || lamp == IconLampBusyB) {
            return LampBusyWord;
        }
        return p.ended && p.outcome == Failed ? LampFailedWord : LampIdleWord;
    }

    static int stepsShown(const RowDisplay& display)
    {
        return static_cast<int>(std::count(display.steps.begin(), display.steps.end(), IconStepDone));
    }

    std::string progressLine(const PortState& p) const
    {
        char line[200];
        if (p.absent) {
            std::snprintf(line, sizeof line, "%-5s %s", portName(p.port).c_str(), AbsentWord);
            return line;
        }
        // The bytes are those the percentage stands for, so the line never contradicts itself.
        const RowDisplay& display = station_.display(p.row);
        std::snprintf(line, sizeof line, "%-5s %-9s step %d/%d %4s  %u of %u bytes", portName(p.port).c_str(),
                      lampWords(p), stepsShown(display), StepCount, display.percentText.c_str(), display.sentBytes,
                      display.totalBytes);
        return line;
    }

    // A row's display changed for the command line when its lamp words, steps or percentage did;
    // the busy lamp's blinking is no change.
    std::string progressKey(const PortState& p) const
    {
        const RowDisplay& display = station_.display(p.row);
        const UploadJob& job = uploadJobs[FirstProductionJob + p.row - 1];
        return std::string(lampWords(p)) + "/" + std::to_string(stepsShown(display)) + "/" + display.percentText +
               "/" + std::to_string(job.phase.load(std::memory_order_relaxed));
    }

    void showProgress(bool first)
    {
        bool anyChange = first;
        for (PortState& p : ports_) {
            std::string key = progressKey(p);
            if (key == p.shown) {
                continue;
            }
            p.shown = key;
            anyChange = true;
            if (json_ && !p.absent && p.everStarted) {
                printProgressObject(p);
            }
            if (!terminal_ && !p.absent && p.everStarted) {
                std::fprintf(stderr, "%s\n", progressLine(p).c_str());
            }
        }
        if (terminal_ && anyChange) {
            redrawTerminalBlock();
        }
        std::fflush(stderr);
    }

    void redrawTerminalBlock()
    {
        if (drawnLines_ > 0) {
            std::fprintf(stderr, "\x1b[%dA", drawnLines_);
        }
        for (const PortState& p : ports_) {
            std::fprintf(stderr, "\r\x1b[K%s\n", progressLine(p).c_str());
        }
        drawnLines_ = static_cast<int>(ports_.size());
    }

    void endTerminalBlock()
    {
        if (terminal_) {
            redrawTerminalBlock();
            drawnLines_ = 0;
        }
        std::fflush(stderr);
    }

    void printProgressObject(const PortState& p)
    {
        const RowDisplay& display = station_.display(p.row);
        const UploadJob& job = uploadJobs[FirstProductionJob + p.row - 1];
        std::printf("{\"event\":\"progress\",\"port\":\"%s\",\"phase\":%d,\"percent\":%d,\"sent\":%u,\"total\":%u}\n",
                    portName(p.port).c_str(), job.phase.load(std::memory_order_relaxed), display.bar,
                    display.sentBytes, display.totalBytes);
        std::fflush(stdout);
    }

    // The unit a result is about: its serial when known, when its run started and ended.
    static std::string unitWords(const PortState& p)
    {
        std::string words;
        if (!p.startTime.empty()) {
            words += " start=" + p.startTime + " end=" + p.endTime;
        }
        if (!p.serial.empty()) {
            words += " serial=" + terminalSafe(p.serial);
        }
        return words;
    }
    static std::string unitJson(const PortState& p)
    {
        std::string fields;
        if (!p.startTime.empty()) {
            fields += ",\"start\":" + jsonString(p.startTime) + ",\"end\":" + jsonString(p.endTime);
        }
        if (!p.serial.empty()) {
            fields += ",\"serial\":" + jsonString(p.serial);
        }
        return fields;
    }

    void printResult(const PortState& p)
    {
        const char* outcome = p.absent ? AbsentWord : p.outcome == Succeeded ? SucceededWord : FailedWord;
        bool failed = !p.absent && p.outcome == Failed;
        if (failed) {
            // Why, with the port, as Tarvo32 upgrade says it; the result line stays as it is.
            std::fprintf(stderr, "%s: %s\n", portName(p.port).c_str(), p.reason.c_str());
            if (p.mayLackFirmware) {
                std::fprintf(stderr, "%s: %s\n", portName(p.port).c_str(), RecoveryAdvice);
            }
        }
        if (json_) {
            std::string reason = failed ? ",\"reason\":" + jsonString(p.reason) : std::string();
            std::printf("{\"event\":\"result\",\"port\":\"%s\",\"outcome\":\"%s\",\"sent\":%u,\"total\":%u,"
                        "\"seconds\":%.1f%s%s}\n",
                        portName(p.port).c_str(), outcome, p.sent, p.total, p.seconds, reason.c_str(),
                        unitJson(p).c_str());
        } else if (p.outcome == Succeeded && !p.absent) {
            std::printf("%s %s %u%s\n", portName(p.port).c_str(), outcome, p.sent, unitWords(p).c_str());
        } else {
            std::printf("%s %s%s\n", portName(p.port).c_str(), outcome, unitWords(p).c_str());
        }
        std::fflush(stdout);
        // A line on the terminal's stdout breaks the live block: draw it anew below.
        if (terminal_ && platform::stdoutIsTerminal()) {
            drawnLines_ = 0;
        }
    }

    bool json_;
    bool watch_;
    bool terminal_;
    DeviceEventQueue events_;  // outlives the station, whose listener feeds it
    ProductionStation station_;
    std::vector<PortState> ports_;
    int drawnLines_ = 0;
    bool toldNotListening_ = false;  // the failed registration was reported
};

}  // namespace

int commandProduction(const Arguments& arguments)
{
    bool json = false;
    bool watch = false;
    std::vector<int> ports;
    for (const std::string& word : arguments) {
        if (word == "--json") {
            json = true;
        } else if (word == "--watch") {
            watch = true;
        } else {
            int port = platform::parsePortArgument(word);
            if (port <= 0) {
                std::fprintf(stderr, "Tarvo32: '%s' is not a port\n", word.c_str());
                std::fputs(UsageText, stderr);
                return UsageExitStatus;
            }
            ports.push_back(port);
        }
    }
    initialiseProgramState();
    const int base = FirmwareConfig.ComBase;
    for (int port : ports) {
        if (productionJobIndex(port) < 0) {
            std::fprintf(stderr, "Tarvo32: COM%d is not one of the station's ports COM%d to COM%d\n", port, base,
                         base + ProductionPortCount - 1);
            std::fputs(UsageText, stderr);
            return UsageExitStatus;
        }
    }
    if (ports.empty()) {
        for (int port = base; port < base + ProductionPortCount; ++port) {
            ports.push_back(port);
        }
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());

    InterruptWatch interrupts;
    setRecordTool(ToolProduction);
    ProductionCommand command(json, watch, ports);
    return command.run(interrupts);
}
