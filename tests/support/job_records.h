// A record of uploadJobs as no run has touched it, for the tests' set-up and tear-down.
// Thread rule: the test's thread, with no worker running on the record.
#pragma once

#include "link/serial_link.h"
#include "upload/upload_job.h"

namespace jobs {

// keepRunning as given: 1 lets a worker run, 0 is the state a page finds before its start.
inline void clearJob(UploadJob& job, int32_t keepRunning = 1, int threadId = -1)
{
    job.port.store(0);
    job.portHandle.store(NoPort);
    job.identity.store(0);
    job.phase.store(Idle);
    job.totalBytes.store(0);
    job.sentBytes.store(0);
    job.threadHandle = nullptr;
    job.threadEnded.store(0);
    job.threadId = threadId;
    job.shownPercent = 0;
    job.percent = 0;
    job.keepRunning.store(keepRunning);
    job.resetCountdown = 0;
    job.blink = 0;
    job.deviceKey.clear();
    job.failReason.store(ReasonNone);
    job.failDetail = FailureDetail{};
    job.stopCause.store(ReasonStopped);
}

}  // namespace jobs
