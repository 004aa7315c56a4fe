// `Tarvo32 upgrade PORT`: one upload on the wizard's record, run on its worker and watched with
// the same poll and progress rule as the wizard page. Progress goes to stderr (one redrawn line
// on a terminal, plain lines otherwise); the last stdout line is "Succeeded" or "Failed".
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <unistd.h>

#include "app/commands.h"
#include "app/interrupts.h"
#include "app/startup.h"
#include "platform/clock.h"
#include "upload/upload_workers.h"

namespace {

constexpr uint32_t PollPeriodMs = 800;       // as the wizard page polls
constexpr uint32_t InterruptCheckMs = 50;    // how soon Ctrl-C is passed on to the worker

constexpr const char* SucceededText = "Succeeded";
constexpr const char* FailedText = "Failed";
constexpr const char* UsageText = "Usage: Tarvo32 upgrade PORT   (PORT: COM3 or 3)\n";

const char* phaseWords(int32_t phase)
{
    switch (phase) {
    case Idle: return "starting";
    case OpeningPort: return "opening the port, looking for the modem";
    case ModemReady: return "modem ready";
    case StartingUpload: return "switching the modem to upload mode";
    case AwaitingReceiver: return "waiting for the modem to receive";
    case Transferring: return "transferring";
    case Failed: return "failed";
    case Succeeded: return "succeeded";
    default: return "unknown phase";
    }
}

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
    explicit ProgressReporter(bool terminal) : terminal_(terminal) {}

    void show(const ProgressView& view)
    {
        int percent = displayedPercent(view);
        if (view.phase == Transferring && transferStart_ < 0) {
            transferStart_ = static_cast<int64_t>(platform::tickCount());
            transferStartBytes_ = view.sentBytes;
        }
        if (terminal_) {
            redraw(view, percent);
        } else if (view.phase != lastPhase_ || percent != lastPercent_) {
            std::fprintf(stderr, "%s %s (%u of %u bytes)\n", percentText(percent).c_str(),
                         phaseWords(view.phase), view.sentBytes, view.totalBytes);
        }
        lastPhase_ = view.phase;
        lastPercent_ = percent;
    }

    void finish()
    {
        if (terminal_) {
            std::fputc('\n', stderr);
        }
        std::fflush(stderr);
    }

private:
    void redraw(const ProgressView& view, int percent)
    {
        std::string line = percentText(percent) + " " + phaseWords(view.phase);
        char detail[160];
        if (view.totalBytes != 0) {
            std::snprintf(detail, sizeof detail, "  %u of %u bytes", view.sentBytes, view.totalBytes);
            line += detail;
        }
        if (view.sentBytes != lastSent_) {
            lastSent_ = view.sentBytes;
            lastSentChange_ = platform::tickCount();
        }
        if (transferStart_ >= 0) {
            // Up to the last acknowledged block: the pause and ping after the image are no transfer.
            uint32_t elapsedMs = lastSentChange_ - static_cast<platform::Ticks>(transferStart_);
            uint32_t moved = view.sentBytes - transferStartBytes_;
            if (elapsedMs > 0 && moved > 0) {
                double bytesPerSecond = moved * 1000.0 / elapsedMs;
                double leftSeconds = (view.totalBytes - view.sentBytes) / bytesPerSecond;
                std::snprintf(detail, sizeof detail, "  %.1f KB/s  %d:%02d left", bytesPerSecond / 1000.0,
                              static_cast<int>(leftSeconds) / 60, static_cast<int>(leftSeconds) % 60);
                line += detail;
            }
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
    int64_t transferStart_ = -1;
    uint32_t lastSent_ = 0;
    platform::Ticks lastSentChange_ = 0;
    uint32_t transferStartBytes_ = 0;
    int32_t lastPhase_ = -1;
    int lastPercent_ = -1;
    size_t lastWidth_ = 0;
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
    int port = arguments.size() == 1 ? parsePortArgument(arguments[0]) : 0;
    if (port <= 0) {
        std::fputs(UsageText, stderr);
        return UsageExitStatus;
    }
    initialiseProgramState();

    InterruptWatch interrupts;

    UploadJob& job = uploadJobs[WizardJobIndex];
    ProgressReporter reporter(isatty(STDERR_FILENO) == 1);
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

    bool succeeded = phase == Succeeded;
    std::puts(succeeded ? SucceededText : FailedText);
    std::fflush(stdout);
    return succeeded ? SucceededExitStatus : FailedExitStatus;
}
