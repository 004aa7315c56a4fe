// The records through which an upload worker and the user interface talk: UploadJob, the table
// uploadJobs of nine (record 0 the wizard's, records 1 to 8 the production ports'), and the
// upload phases a worker reports.
//
// The fields the two sides share are std::atomic 32-bit values read and written with relaxed
// ordering: each one is a single value that is polled, never a message, so no ordering between
// them is needed (a display may see sentBytes and totalBytes from slightly different moments;
// the rising-only progress rule absorbs that). The worker writes portHandle, identity, phase,
// totalBytes and sentBytes and reads keepRunning (and identity once); everything else belongs to
// the user interface. No lock, event or message passes between them.
// Thread rule: a record's plain fields are UI thread only; its atomic fields as noted per field.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

enum UploadPhase : int32_t {
    Idle = 0,              // not started (written by the starter)
    OpeningPort = 1,       // opening and probing the port
    ModemReady = 2,        // modem identified; version gate and pre-upload commands passed
    StartingUpload = 3,    // firmware file open, its size known; upload-mode commands under way
    AwaitingReceiver = 4,  // "Y\r" sent; waiting for the modem's first NAK
    Transferring = 5,      // blocks are being sent
    Failed = 99,           // ended without every byte acknowledged
    Succeeded = 100,       // ended with sentBytes equal to a non-zero totalBytes
};

struct UploadJob {
    std::atomic<int32_t> port{0};           // UI, before the start; the worker routine's parameter
    std::atomic<int32_t> portHandle{0};     // UI (-1 before the start), then the engine
    std::atomic<uint32_t> identity{0};      // UI (0 makes the engine probe), then the engine
    std::atomic<int32_t> phase{0};          // UI (0), then the engine: an UploadPhase
    std::atomic<uint32_t> totalBytes{0};    // UI (0), then the engine: bytes the run will send
    std::atomic<uint32_t> sentBytes{0};     // UI (0), then the engine: file bytes acknowledged
    std::thread* threadHandle = nullptr;    // UI: the worker; null when there is none
    std::atomic<int32_t> threadEnded{0};    // UI (0 at the start), then the worker as its last act
    int32_t threadId = 0;                   // UI: -1 before the start, then a serial per worker
    int32_t shownPercent = 0;               // UI: highest percentage displayed so far
    int32_t percent = 0;                    // UI: last percentage computed
    std::atomic<int32_t> keepRunning{0};    // UI: 1 go on; 0 the engine ends its run
    int32_t resetCountdown = 0;             // UI: polls left before a stopped row is cleared
    int32_t blink = 0;                      // UI: alternates 0/1 on each poll (busy lamp)
    std::string deviceKey;                  // USB port discovery (UI thread)
};

constexpr int UploadJobCount = 9;
constexpr int WizardJobIndex = 0;
constexpr int FirstProductionJob = 1;
constexpr int LastProductionJob = 8;
constexpr int ProductionPortCount = 8;

extern UploadJob uploadJobs[UploadJobCount];
