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

#include "platform/threads.h"

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

// Why a run failed: written by the worker once, at the step that failed, after its detail. 0 while
// the run goes well and after a success. uploadReasonText (upload/upload_reason.h) says it.
enum UploadReason : int32_t {
    ReasonNone = 0,
    // Opening the port (detail: none).
    ReasonPortNoEntry = 1,   // no entry maps the port to a device
    ReasonPortNoDevice,      // its entry leads to no device
    ReasonPortBusy,          // held by another program
    ReasonPortDenied,        // permission denied on the device
    ReasonPortNotSerial,     // the entry is not a serial device
    ReasonPortOpenFailed,    // any other failure to open
    // Identifying the modem.
    ReasonNoAnswer = 20,     // nothing answered the probe
    ReasonAnsweredLate,      // an answer came after its window
    ReasonOtherMaker,        // subject: the ATI9 line
    ReasonOtherProduct,      // subject: the ATI1 line
    // Before the upload.
    ReasonVersionRefused = 40,  // subject: the modem's version (empty: none found); answer: the
                                // bound; number: 1 when the version must be at most the bound
    ReasonCommandNotAt,         // number: the key; subject: the command
    ReasonCommandRefused,       // number: the key; subject: the command; answer: the last line
    // The images (number: 0 the firmware image, 1 the fix image; subject: the path).
    ReasonImageMissing = 60,
    ReasonImageUnreadable,
    ReasonImageNotRegular,
    ReasonImageEmpty,
    ReasonImageTooLarge,
    ReasonImageIsIni,
    // The upload dialogue.
    ReasonNoPrompt = 80,     // subject: the upload-mode command
    ReasonNoNak,             // no NAK within FirstNakWaitMs
    ReasonBlockRefused,      // number: the block (1 = the file's first); answer: the last reply
    ReasonPortLost,          // the port failed: the modem was pulled out
    ReasonStopped,           // keepRunning was cleared
    ReasonPulledOut,         // keepRunning was cleared because the USB modem was removed
};

// What a reason needs besides its code; which fields count is said per reason above.
struct FailureDetail {
    int32_t number = 0;
    std::string subject;
    std::string answer;
};

// What the upgrade record (upload/upgrade_record.h) needs of a run besides the shared fields.
// serial is copied from deviceKey by the starter before the worker exists; the worker writes the
// rest during its run; the UI reads them only once the worker is joined (after workerEnded or
// killWorkers), when they are final.
struct RunFacts {
    std::string serial;         // the USB serial the row's device event bound to it; empty if none
    std::string startTime;      // UTC, ISO 8601, when the worker began
    std::string endTime;        // ... and when its run ended
    uint32_t startTicks = 0;    // tick count at the start (the seconds are measured in ticks)
    uint32_t elapsedMs = 0;
    bool modemReached = false;  // something answered the probe: the run reached a modem
    std::string ati1Answer;     // the ATI1 line that named the product (normal mode)
    std::string modemVersion;   // the version the version check read (when it ran)
    bool recorded = false;      // the run's record is on the disk
};

struct UploadJob {
    std::atomic<int32_t> port{0};           // UI, before the start; the worker routine's parameter
    std::atomic<int32_t> portHandle{0};     // UI (-1 before the start), then the engine
    std::atomic<uint32_t> identity{0};      // UI (0 makes the engine probe), then the engine
    std::atomic<int32_t> phase{0};          // UI (0), then the engine: an UploadPhase
    std::atomic<uint32_t> totalBytes{0};    // UI (0), then the engine: bytes the run will send
    std::atomic<uint32_t> sentBytes{0};     // UI (0), then the engine: file bytes acknowledged
    platform::Thread* threadHandle = nullptr;  // UI: the worker; null when there is none
    std::atomic<int32_t> threadEnded{0};    // UI (0 at the start), then the worker as its last act
    int32_t threadId = 0;                   // UI: -1 before the start, then a serial per worker
    int32_t shownPercent = 0;               // UI: highest percentage displayed so far
    int32_t percent = 0;                    // UI: last percentage computed
    std::atomic<int32_t> keepRunning{0};    // UI: 1 go on; 0 the engine ends its run
    // UI: why keepRunning was cleared (ReasonStopped, or ReasonPulledOut on a device removal);
    // written before keepRunning is cleared with release order, read by the engine after it
    // loaded keepRunning 0 with acquire order.
    std::atomic<int32_t> stopCause{ReasonStopped};
    int32_t resetCountdown = 0;             // UI: polls left before a stopped row is cleared
    int32_t blink = 0;                      // UI: alternates 0/1 on each poll (busy lamp)
    std::string deviceKey;                  // USB port discovery (UI thread)
    // The worker writes failDetail and then, with release order, failReason, each once per run;
    // the UI loads failReason with acquire order and reads failDetail only when it is not 0. The
    // starter clears both before the worker exists.
    std::atomic<int32_t> failReason{0};     // UI (0), then the worker: an UploadReason
    FailureDetail failDetail;               // UI (cleared), then the worker, before failReason
    RunFacts run;                           // see RunFacts
};

constexpr int UploadJobCount = 9;
constexpr int WizardJobIndex = 0;
constexpr int FirstProductionJob = 1;
constexpr int LastProductionJob = 8;
constexpr int ProductionPortCount = 8;

extern UploadJob uploadJobs[UploadJobCount];
