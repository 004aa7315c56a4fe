// `Tarvo32 production [--json] [--watch] [PORT...]`: the production-line station without its
// window. The same station logic as the dialog (records 1 to 8, the 800 ms tick and the poll of a
// row, USB arrivals and removals) started on the listed ports; what the rows show goes to stderr
// (one live line per port on a terminal, a plain line per change otherwise) and the outcome of
// every worker to stdout, as text lines or JSON objects.
//
// Without --watch it ends one tick after the last started worker has ended ("Exit when
// appropriate" pressed at once) and prints one result per listed port in port order. With
// --watch it runs until SIGINT or SIGTERM, listens for USB modems on the 9x family, and prints a
// result each time a worker ends. Signals stop every worker through keepRunning, never by
// killing a thread.

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
#include "platform/threads.h"
#include "production/station.h"
#include "production/usb_port_discovery.h"
#include "resources/icons.h"
#include "upload/upload_reason.h"
#include "upload/upload_workers.h"

namespace {

constexpr uint32_t EventCheckMs = 50;  // how soon Ctrl-C or a device event is acted on

constexpr const char* UsageText =
    "Usage: Tarvo32 production [--json] [--watch] [PORT...]\n"
    "  PORT     COM3 or 3, one of the station's eight ports (default: all eight)\n"
    "  --json   JSON lines on stdout: progress and result objects\n"
    "  --watch  keep running; start a USB modem's port when it is plugged in (Windows 9x family),\n"
    "           stop it when it is pulled out; end with Ctrl-C or SIGTERM\n";

constexpr const char* SucceededWord = "Succeeded";
constexpr const char* FailedWord = "Failed";
constexpr const char* AbsentWord = "absent";

constexpr const char* LampIdleWord = "idle";
constexpr const char* LampBusyWord = "busy";
constexpr const char* LampSucceededWord = "succeeded";
constexpr const char* LampFailedWord = "failed";

constexpr int StepCount = 3;
constexpr double MillisecondsPerSecond = 1000.0;

std::string portName(int port)
{
    return "COM" + std::to_string(port);
}

bool hasPortEntry(int port)
{
    return platform::systemPortExists(portName(port));
}

// Device events from the listener thread, handed to the main loop (the station's UI thread).
class DeviceEventQueue {
public:
    void push(const platform::DeviceChange& change)
    {
        std::lock_guard<platform::Mutex> lock(mutex_);
        events_.push_back(change);
    }
    std::vector<platform::DeviceChange> take()
    {
        std::lock_guard<platform::Mutex> lock(mutex_);
        std::vector<platform::DeviceChange> taken;
        taken.swap(events_);
        return taken;
    }

private:
    platform::Mutex mutex_;
    std::vector<platform::DeviceChange> events_;
};

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
            platform::DeviceNotifyFailure why;
            DeviceListening listening = station_.listenForDevices(
                [this](const platform::DeviceChange& change) { events_.push(change); }, &why);
            if (listening == DeviceListening::Failed) {
                std::fprintf(stderr, "Tarvo32 production: cannot listen for USB modems: %s\n", why.text.c_str());
                return FailedExitStatus;
            }
            if (listening == DeviceListening::NotNeeded) {
                std::fputs("Tarvo32 production: the NT family sends no USB modem events; "
                           "only the listed ports are started\n", stderr);
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
        }
        endTerminalBlock();
        return finish();
    }

private:
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

    // One poll period, in short steps: false when an interrupt came. Device events are handled
    // here as they come, as the dialog handles them between its timer ticks.
    bool waitOneTick(const InterruptWatch& interrupts)
    {
        for (uint32_t slept = 0; slept < StationPollPeriodMs; slept += EventCheckMs) {
            if (interrupts.requested()) {
                return false;
            }
            for (const platform::DeviceChange& change : events_.take()) {
                DeviceAction action = station_.deviceChange(change);
                PortState* p = stateOf(action.port);
                if (p && action.kind == DeviceAction::Started) {
                    markStarted(*p);
                    showProgress(false);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(EventCheckMs));
        }
        return true;
    }

    void collect()
    {
        for (PortState& p : ports_) {
            const RowPoll& poll = station_.lastPoll(p.row);
            if (p.started && !p.ended && poll.phase <= Transferring) {
                p.furthestPhase = std::max(p.furthestPhase, poll.phase);
            }
            if (poll.workerEnded && p.started && !p.ended) {
                ended(p, poll.phase, poll.sentBytes, poll.totalBytes);
            }
        }
    }

    void ended(PortState& p, int32_t phase, uint32_t sent, uint32_t total)
    {
        p.ended = true;
        p.outcome = phase == Succeeded ? Succeeded : Failed;
        if (p.outcome == Failed) {
            // The worker has been joined: its reason and detail are final.
            const UploadJob& job = uploadJobs[p.row];
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

    // Signals: every worker is asked to stop and joined; their outcomes are what they wrote.
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
            const UploadJob& job = uploadJobs[FirstProductionJob + p->row - 1];
            ended(*p, job.phase.load(std::memory_order_relaxed), job.sentBytes.load(std::memory_order_relaxed),
                  job.totalBytes.load(std::memory_order_relaxed));
        }
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
        const RowDisplay& display = station_.display(p.row);
        const UploadJob& job = uploadJobs[FirstProductionJob + p.row - 1];
        std::snprintf(line, sizeof line, "%-5s %-9s step %d/%d %4s  %u of %u bytes", portName(p.port).c_str(),
                      lampWords(p), stepsShown(display), StepCount, display.percentText.c_str(),
                      job.sentBytes.load(std::memory_order_relaxed), job.totalBytes.load(std::memory_order_relaxed));
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
                    job.sentBytes.load(std::memory_order_relaxed), job.totalBytes.load(std::memory_order_relaxed));
        std::fflush(stdout);
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
                        "\"seconds\":%.1f%s}\n",
                        portName(p.port).c_str(), outcome, p.sent, p.total, p.seconds, reason.c_str());
        } else if (p.outcome == Succeeded && !p.absent) {
            std::printf("%s %s %u\n", portName(p.port).c_str(), outcome, p.sent);
        } else {
            std::printf("%s %s\n", portName(p.port).c_str(), outcome);
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
    ProductionCommand command(json, watch, ports);
    return command.run(interrupts);
}
