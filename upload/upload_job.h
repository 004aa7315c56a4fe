// The records through which an upload worker and the user interface talk (UploadJob, the table
// uploadJobs of nine), the upload phases, the worker routines and their start/stop operations,
// and the one progress rule every display uses.
//
// Shared fields are std::atomic 32-bit values with relaxed ordering: the worker writes
// portHandle, identity, phase, totalBytes and sentBytes; the user interface writes everything
// else and keepRunning. No lock, event or message passes between them.
// Thread rule: start/poll/stop/kill are UI thread only; the engine writes only its own record.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

enum UploadPhase : int32_t {
    Idle = 0,
    OpeningPort = 1,
    ModemReady = 2,
    StartingUpload = 3,
    AwaitingReceiver = 4,
    Transferring = 5,
    Failed = 99,
    Succeeded = 100,
};

struct UploadJob {
    std::atomic<int32_t> port{0};          // UI, before the start
    std::atomic<int32_t> portHandle{0};    // UI (-1), then the engine
    std::atomic<uint32_t> identity{0};     // UI (0), then the engine
    std::atomic<int32_t> phase{0};         // UI (0), then the engine
    std::atomic<uint32_t> totalBytes{0};   // UI (0), then the engine
    std::atomic<uint32_t> sentBytes{0};    // UI (0), then the engine
    std::thread* threadHandle = nullptr;   // UI only; null when there is no worker
    std::atomic<int32_t> threadEnded{0};   // the worker routine sets it as its last act
    int32_t threadId = 0;                  // UI
    int32_t shownPercent = 0;              // UI
    int32_t percent = 0;                   // UI
    std::atomic<int32_t> keepRunning{0};   // UI; 0 asks the engine to stop before its next block
    int32_t resetCountdown = 0;            // UI
    int32_t blink = 0;                     // UI
    std::string deviceKey;                 // USB port discovery, UI thread
};

constexpr int UploadJobCount = 9;
extern UploadJob uploadJobs[UploadJobCount];
