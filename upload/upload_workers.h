// Upload workers: the two thread routines that run the upload engine on a record of uploadJobs,
// starting and stopping them, the poll that tells the user interface a worker has ended, and the
// one progress rule every display uses (the wizard page, the production rows, the command line).
//
// Record 0 is the wizard's; record k (1 to 8) belongs to the production port ComBase + k - 1.
// A worker is never killed outright: its owner clears keepRunning and joins it; the engine tests
// keepRunning inside all its waits, so a stop takes effect within about 100 ms and the run still
// ends through its normal end (phase written, port and file closed).
// Results: none for the start/stop operations (a worker that cannot be created leaves
// threadHandle null, an idle record); see each function otherwise.
// Thread rule: everything here except the thread routines is for the UI thread only (the one
// thread that creates, joins and frees worker threads).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "upload/upload_job.h"

// Thread routines: each receives a pointer to its record's port field and returns 0. They return
// at once when the port is out of their range (wizard: port above 0; production: ComBase to
// ComBase + 7).
int wizardUploadThread(std::atomic<int32_t>* port);
int productionUploadThread(std::atomic<int32_t>* port);

// The production record of port p (p - ComBase + 1), or -1 when p is not a production port.
int productionJobIndex(int port);

// Fills record 0 for a fresh run on the port and starts its worker. Afterwards
// uploadJobs[0].threadHandle is non-null exactly when a worker runs.
void startWizardUpload(int port);
// Starts the production worker of port p; nothing when p is not a production port or the record
// still holds a worker (threadHandle non-null, also after its run ended until the poll frees it).
void startProductionUpload(int port);
// startProductionUpload for ComBase to ComBase + 7, in rising order.
void startAllProductionUploads();
// Records 1 to 8 made ready when the production dialog opens: port set, everything else cleared,
// keepRunning 1, threadId -1, deviceKey empty.
void prepareProductionJobs();
// USB device removed: stopCause ReasonPulledOut, keepRunning 0, resetCountdown
// ResetCountdownPolls.
void stopProductionPort(int port);
// USB device arrived: keepRunning 1, then startProductionUpload.
void resumeProductionPort(int port);
constexpr int32_t ResetCountdownPolls = 7;

// The owner is going away: for records firstRecord..lastRecord holding a worker, clear
// keepRunning, join, free the thread and null threadHandle. Returns within a fraction of a
// second per worker.
void killWorkers(int firstRecord, int lastRecord);

// The poll's end test: waits up to WorkerEndWaitMs (real time) for the worker to finish. True
// once the worker routine has returned; the worker is then joined and freed and threadHandle
// nulled, and the outcome is in phase (Succeeded or Failed). False while it runs or when the
// record holds no worker.
bool workerEnded(UploadJob& job);
constexpr uint32_t WorkerEndWaitMs = 10;

// Percentage of the image acknowledged: sent x 98 / total, rounded down, computed in 64 bits
// (the 32-bit product overflows past about 43 MB; below that the result is the same). 0 when
// total is 0; never above 98.
uint32_t progressPercent(uint32_t sent, uint32_t total);
constexpr uint32_t ProgressScale = 98;

// The progress rule, once for every display. While totalBytes is 0 nothing is computed.
// Otherwise job.percent takes the new percentage, and it is shown (changed true, job.shownPercent
// raised) only when it rises above job.shownPercent, so the display never goes back, also when a
// stale or reordered read gives a lower value. allAcknowledged: sentBytes == totalBytes != 0,
// every byte acknowledged; the wizard then shows 99 % until success shows 100 %, a production
// row 100 % at once.
struct ProgressView {
    bool changed = false;          // shownPercent rose on this poll
    int percent = 0;               // the percentage to show (job.shownPercent)
    bool allAcknowledged = false;  // sentBytes == totalBytes != 0
    int32_t phase = 0;             // the phase read on this poll
    uint32_t sentBytes = 0;        // what the percentage was computed from
    uint32_t totalBytes = 0;
};
ProgressView pollProgress(UploadJob& job);

// " 4%", "49%", "100%": a leading blank below 10.
std::string percentText(int percent);
