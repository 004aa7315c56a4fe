#include "upload/upload_workers.h"

#include <chrono>
#include <exception>
#include <thread>

#include "config/firmware_config.h"
#include "link/serial_link.h"
#include "platform/thread_priority.h"
#include "upload/upgrade_record.h"
#include "platform/threads.h"
#include "upload/upload_engine.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// Serial numbers standing in for thread ids: -1 is "none", so they start at 1.
int32_t nextThreadId = 1;

// Fields every start clears (start step 1).
void fillForStart(UploadJob& job, int port)
{
    job.port.store(port, relaxed);
    job.portHandle.store(NoPort, relaxed);
    job.identity.store(0, relaxed);
    job.phase.store(Idle, relaxed);
    job.totalBytes.store(0, relaxed);
    job.sentBytes.store(0, relaxed);
    job.shownPercent = 0;
    job.percent = 0;
    job.resetCountdown = 0;
    job.blink = 0;
    job.failReason.store(ReasonNone, relaxed);
    job.failDetail = FailureDetail{};
    job.stopCause.store(ReasonStopped, relaxed);
    job.run = RunFacts{};
}

using ThreadRoutine = int (*)(std::atomic<int32_t>*);

// Start steps 2 to 4. The worker raises its own priority (quietly: it needs privileges here)
// and marks its end as its very last act, which is what the poll waits for.
void launchWorker(UploadJob& job, ThreadRoutine routine)
{
    job.threadEnded.store(0, relaxed);
    job.threadId = -1;
    // The worker never reads deviceKey, which the UI thread may rebind while it runs.
    job.run.serial = job.deviceKey;
    UploadJob* record = &job;
    try {
        job.threadHandle = new platform::Thread([record, routine] {
            platform::raiseCurrentThreadPriority();
            platform::tightenCurrentThreadTimers();
            beginRunFacts(*record);
            routine(&record->port);
            // On the disk before the end is seen: a display shows the result only after this.
            recordRun(*record, static_cast<int>(record - uploadJobs));
            record->threadEnded.store(1, std::memory_order_release);
        });
    } catch (const std::exception&) {
        // Creation failed: the record stays idle and nothing is reported.
        job.threadHandle = nullptr;
        return;
    }
    job.threadId = nextThreadId++;
    if (nextThreadId <= 0) {
        nextThreadId = 1;
    }
}

void releaseWorker(UploadJob& job)
{
    job.threadHandle->join();
    delete job.threadHandle;
    job.threadHandle = nullptr;
}

bool isProductionPort(int port)
{
    return port >= FirmwareConfig.ComBase && port < FirmwareConfig.ComBase + ProductionPortCount;
}

}  // namespace

int wizardUploadThread(std::atomic<int32_t>* port)
{
    int n = port->load(relaxed);
    if (n > 0) {
        runUpload(n, WizardJobIndex);
    }
    return 0;
}

int productionUploadThread(std::atomic<int32_t>* port)
{
    int n = port->load(relaxed);
    if (isProductionPort(n)) {
        // A station row whose port cannot hold a modem says so at once, not after 16 s.
        runUpload(n, productionJobIndex(n), UnopenablePort::FailAtOnce);
    }
    return 0;
}

int productionJobIndex(int port)
{
    return isProductionPort(port) ? port - FirmwareConfig.ComBase + FirstProductionJob : -1;
}

void startWizardUpload(int port)
{
    UploadJob& job = uploadJobs[WizardJobIndex];
    // A worker still held on record 0 would keep writing it; stop it before the record is reused.
    killWorkers(WizardJobIndex, WizardJobIndex);
    fillForStart(job, port);
    job.threadHandle = nullptr;
    job.threadId = -1;
    job.keepRunning.store(1, relaxed);
    job.deviceKey.clear();
    launchWorker(job, wizardUploadThread);
}

void startProductionUpload(int port)
{
    int index = productionJobIndex(port);
    if (index < 0) {
        return;
    }
    UploadJob& job = uploadJobs[index];
    if (job.threadHandle) {
        return;  // its worker is still there, running or not yet collected by the poll
    }
    fillForStart(job, port);
    launchWorker(job, productionUploadThread);
}

void startAllProductionUploads()
{
    for (int port = FirmwareConfig.ComBase; port < FirmwareConfig.ComBase + ProductionPortCount; ++port) {
        startProductionUpload(port);
    }
}

void prepareProductionJobs()
{
    for (int k = FirstProductionJob; k <= LastProductionJob; ++k) {
        UploadJob& job = uploadJobs[k];
        fillForStart(job, FirmwareConfig.ComBase + k - FirstProductionJob);
        job.threadHandle = nullptr;
        job.threadEnded.store(0, relaxed);
        job.threadId = -1;
        job.keepRunning.store(1, relaxed);
        job.deviceKey.clear();
    }
}

void stopProductionPort(int port)
{
    int index = productionJobIndex(port);
    if (index < 0) {
        return;
    }
    // The cause first: the worker that sees the stop reads it to say the modem was pulled out.
    uploadJobs[index].stopCause.store(ReasonPulledOut, relaxed);
    uploadJobs[index].keepRunning.store(0, std::memory_order_release);
    uploadJobs[index].resetCountdown = ResetCountdownPolls;
}

void resumeProductionPort(int port)
{
    int index = productionJobIndex(port);
    if (index < 0) {
        return;
    }
    uploadJobs[index].keepRunning.store(1, relaxed);
    startProductionUpload(port);
}

void killWorkers(int firstRecord, int lastRecord)
{
    if (firstRecord < 0) {
        firstRecord = 0;
    }
    if (lastRecord >= UploadJobCount) {
        lastRecord = UploadJobCount - 1;
    }
    // Ask them all first, then join, so several workers wind down in parallel.
    for (int k = firstRecord; k <= lastRecord; ++k) {
        if (uploadJobs[k].threadHandle) {
            uploadJobs[k].keepRunning.store(0, relaxed);
        }
    }
    for (int k = firstRecord; k <= lastRecord; ++k) {
        if (uploadJobs[k].threadHandle) {
            releaseWorker(uploadJobs[k]);
        }
    }
}

bool workerEnded(UploadJob& job)
{
    if (!job.threadHandle) {
        return false;
    }
    // Real time on purpose: the UI's short wait must not move a test's virtual clock, which the
    // worker's own time-outs run on.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WorkerEndWaitMs);
    while (job.threadEnded.load(std::memory_order_acquire) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    releaseWorker(job);
    return true;
}

uint32_t progressPercent(uint32_t sent, uint32_t total)
{
    if (total == 0) {
        return 0;
    }
    uint64_t scaled = static_cast<uint64_t>(sent) * ProgressScale / total;
    return scaled > ProgressScale ? ProgressScale : static_cast<uint32_t>(scaled);
}

ProgressView pollProgress(UploadJob& job)
{
    ProgressView view;
    // sentBytes first: totalBytes only grows during a run, so a total read afterwards is never
    // below the sent count it is compared with.
    view.sentBytes = job.sentBytes.load(relaxed);
    view.totalBytes = job.totalBytes.load(relaxed);
    view.phase = job.phase.load(relaxed);
    if (view.totalBytes != 0) {
        job.percent = static_cast<int32_t>(progressPercent(view.sentBytes, view.totalBytes));
        if (job.percent > job.shownPercent) {
            job.shownPercent = job.percent;
            view.changed = true;
        }
        view.allAcknowledged = view.sentBytes == view.totalBytes;
    }
    view.percent = job.shownPercent;
    return view;
}

std::string percentText(int percent)
{
    std::string digits = std::to_string(percent);
    return (percent >= 0 && percent < 10 ? " " : "") + digits + "%";
}
