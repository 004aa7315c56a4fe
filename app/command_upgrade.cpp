// `Tarvo32 upgrade PORT`: one upload on the wizard's record, run on its worker and watched with
// the same poll and progress rule as the wizard page. Progress goes to stderr (one line redrawn
// to the terminal's width and cleared at the end, plain lines otherwise); the last stdout line is
// "Succeeded" or "Failed", and a failure says why on stderr, with the port: "COM3: block 17
// refused four times (NAK)".
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/commands.h"
#include "app/interrupts.h"
#include "app/startup.h"
#include "platform/clock.h"
#include "platform/com_port_name.h"
#include "platform/console.h"
#include "platform/serial_device.h"
#include "upload/upgrade_record.h"
#include "upload/upload_reason.h"
#include "upload/upload_workers.h"

namespace {

constexpr uint32_t PollPeriodMs = 800;       // as the wizard page polls
constexpr uint32_t InterruptCheckMs = 50;    // how soon Ctrl-C is passed on to the worker

constexpr const char* SucceededText = "Succeeded";
constexpr const char* FailedText = "Failed";
constexpr const char* UsageText = "Usage: Tarvo32 upgrade PORT   (PORT: COM3 or 3)\n";
// A terminal that does not say its width is taken to be this wide.
constexpr int DefaultTerminalColumns = 80;

}  // namespace

// Every byte acknowledged while the run goes on: the pause after EOT and the closing ping, in
// which the modem stores what it received. Shown as a phase of its own, never as a transfer.
constexpr int32_t Finishing = -2;

int32_t shownPhase(const ProgressView& view)
{
    return view.phase == Transferring && view.allAcknowledged ? Finishing : view.phase;
}

const char* phaseWords(int32_t phase)
{
    switch (phase) {
    case Idle: return "starting";
    case OpeningPort: return "opening the port, looking for the modem";
    case ModemReady: return "modem ready";
    case StartingUpload: return "switching the modem to upload mode";
    case AwaitingReceiver: return "waiting for the modem to receive";
    case Transferring: return "transferring";
    case Finishing: return "the modem is finishing (writing its new firmware)";
    case Failed: return "failed";
    case Succeeded: return "succeeded";
    default: return "unknown phase";
    }
}

namespace {

// What the display shows: the rising percentage, 99 % once every byte is acknowledged but before
// the run has ended well, 100 % on success (the wizard's rule).
int displayedPercent(const ProgressView& view)
{
    if (view.phase == Succeeded) {
        return 100;
    }
    return view.allAcknowledged ? 99 : view.percent;
}

class ProgressReporter {
public:
    ProgressReporter(bool terminal, int columns) : terminal_(terminal), columns_(columns) {}

    void show(const ProgressView& view)
    {
        int percent = displayedPercent(view);
        int32_t phase = shownPhase(view);
        if (view.phase == Transferring && transferStart_ < 0) {
            transferStart_ = static_cast<int64_t>(platform::tickCount());
            transferStartBytes_ = view.sentBytes;
        }
        if (view.sentBytes != lastSent_) {
            lastSent_ = view.sentBytes;
            lastSentChange_ = platform::tickCount();
        }
        if (view.phase >= OpeningPort && view.phase <= Transferring && view.phase > furthestPhase_) {
            furthestPhase_ = view.phase;
        }
        if (terminal_) {
            redraw(view, phase, percent);
        } else if (phase != lastPhase_ || percent != lastPercent_) {
            std::fprintf(stderr, "%s %s (%u of %u bytes)%s\n", percentText(percent).c_str(), phaseWords(phase),
                         view.sentBytes, view.totalBytes, rate(view, phase).c_str());
        }
        lastPhase_ = phase;
        lastPercent_ = percent;
    }

    // The live line goes: what follows starts on a clean line.
    void finish()
    {
        if (terminal_ && lastWidth_ > 0) {
            std::fprintf(stderr, "\r%s\r", std::string(lastWidth_, ' ').c_str());
        }
        std::fflush(stderr);
    }

    int32_t furthestPhase() const { return furthestPhase_; }

private:
    // "  12.3 KB/s  0:05 left" while blocks move, up to the last acknowledged block: the pause
    // and ping after the image are no transfer.
    std::string rate(const ProgressView& view, int32_t phase) const
    {
        if (transferStart_ < 0 || phase != Transferring) {
            return std::string();
        }
        uint32_t elapsedMs = lastSentChange_ - static_cast<platform::Ticks>(transferStart_);
        uint32_t moved = view.sentBytes - transferStartBytes_;
        if (elapsedMs == 0 || moved == 0) {
            return std::string();
        }
        double bytesPerSecond = moved * 1000.0 / elapsedMs;
        double leftSeconds = (view.totalBytes - view.sentBytes) / bytesPerSecond;
        char text[64];
        std::snprintf(text, sizeof text, "  %.1f KB/s  %d:%02d left", bytesPerSecond / 1000.0,
                      static_cast<int>(leftSeconds) / 60, static_cast<int>(leftSeconds) % 60);
        return text;
    }

    void redraw(const ProgressView& view, int32_t phase, int percent)
    {
        std::string line = percentText(percent) + " " + phaseWords(phase);
        if (view.totalBytes != 0) {
            char detail[64];
            std::snprintf(detail, sizeof detail, "  %u of %u bytes", view.sentBytes, view.totalBytes);
            line += detail;
        }
        line += rate(view, phase);
        // One column short of the width: a line that fills it wraps on some terminals, and every
        // redraw would then leave a copy behind.
        size_t fit = columns_ > 1 ? static_cast<size_t>(columns_ - 1) : line.size();
        if (line.size() > fit) {
            line.resize(fit);
        }
        // Pad over whatever a longer previous line left on the screen.
        size_t width = line.size();
        if (width < lastWidth_) {
            line.append(lastWidth_ - width, ' ');
        }
        lastWidth_ = width;
        std::fprintf(stderr, "\r%s", line.c_str());
        std::fflush(stderr);
    }

    bool terminal_;
    int columns_;
    int64_t transferStart_ = -1;
    uint32_t lastSent_ = 0;
    platform::Ticks lastSentChange_ = 0;
    uint32_t transferStartBytes_ = 0;
    int32_t lastPhase_ = -1;
    int lastPercent_ = -1;
    size_t lastWidth_ = 0;
    int32_t furthestPhase_ = Idle;
};

// Sleeps one poll period, passing an interrupt on to the worker as soon as it comes.
void waitOnePoll(UploadJob& job, const InterruptWatch& interrupts)
{
    for (uint32_t slept = 0; slept < PollPeriodMs; slept += InterruptCheckMs) {
        if (interrupts.requested()) {
            job.keepRunning.store(0, std::memory_order_relaxed);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(InterruptCheckMs));
    }
}

}  // namespace

int commandUpgrade(const Arguments& arguments)
{
    if (arguments.empty()) {
        std::fputs("Tarvo32: upgrade needs a PORT\n", stderr);
        std::fputs(UsageText, stderr);
        return UsageExitStatus;
    }
    int port = platform::parsePortArgument(arguments[0]);
    if (port <= 0 || arguments.size() > 1) {
        const std::string& bad = port <= 0 ? arguments[0] : arguments[1];
        std::fprintf(stderr, port <= 0 ? "Tarvo32: '%s' is not a port\n" : "Tarvo32: unexpected argument '%s'\n",
                     bad.c_str());
        std::fputs(UsageText, stderr);
        return UsageExitStatus;
    }
    initialiseProgramState();
    warnWithoutIni();
    const std::string portName = platform::comPortName(port);

    // Four probes 5 s apart are for a modem that is slow to answer, not for a port that is not
    // there at all.
    if (!platform::portHasEntry(portName)) {
        std::fprintf(stderr, "%s: %s\n", portName.c_str(), uploadReasonText(ReasonPortNoEntry, {}).c_str());
        std::fprintf(stderr, "Tarvo32: %s\n", platform::portEntriesAdvice().c_str());
        std::puts(FailedText);
        std::fflush(stdout);
        return FailedExitStatus;
    }

    InterruptWatch interrupts;

    UploadJob& job = uploadJobs[WizardJobIndex];
    const bool terminal = platform::stderrIsTerminal();
    int columns = terminal ? platform::stderrColumns() : 0;
    ProgressReporter reporter(terminal, columns > 0 ? columns : DefaultTerminalColumns);
    setRecordTool(ToolUpgrade);
    startWizardUpload(port);
    bool ran = job.threadHandle != nullptr;
    while (ran && !workerEnded(job)) {
        reporter.show(pollProgress(job));
        waitOnePoll(job, interrupts);
    }
    int32_t phase = ran ? job.phase.load(std::memory_order_relaxed) : Failed;
    if (ran) {
        reporter.show(pollProgress(job));
    }
    reporter.finish();
    sayRecordWarning();

    bool succeeded = phase == Succeeded;
    if (!succeeded) {
        // The worker has been joined: its reason and detail are final.
        int32_t reason = job.failReason.load(std::memory_order_acquire);
        std::fprintf(stderr, "%s: %s\n", portName.c_str(),
                     ran ? uploadReasonText(reason, job.failDetail).c_str() : "the upload could not be started");
        if (ran && modemMayLackFirmware(reason, reporter.furthestPhase())) {
            std::fprintf(stderr, "%s\n", RecoveryAdvice);
        }
    }
    std::puts(succeeded ? SucceededText : FailedText);
    std::fflush(stdout);
    return succeeded ? SucceededExitStatus : FailedExitStatus;
}
