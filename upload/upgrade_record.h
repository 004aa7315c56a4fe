// The upgrade record: one line of JSON per upload that reached a modem, appended to the machine's
// record file (platform/record_file.h) by the upload worker itself when its run ends, so every
// path that runs uploads (the wizard, `Tarvo32 upgrade`, `Tarvo32 production`, the production
// dialog) records alike, and the record is on the disk before any display can show the result.
// This module owns what a record says: its fields, one line written and read back, the times.
//
// A run "reached a modem" when something answered its probe, or when the row's modem came
// through a device event (its USB serial is known): a port with nothing on it leaves no record.
// When the file cannot be written the upgrade goes on; the first such failure is kept for the
// program to say once (takeRecordWarning).
//
// Results: parseRecordLine is false for a line that is not a record (torn, foreign, empty).
// Thread rule: beginRunFacts and recordRun on the run's own worker; setRecordTool before any
// worker starts; the rest safe from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/wall_clock.h"
#include "upload/upload_job.h"

// Outcomes as the record and `Tarvo32 history` name them.
constexpr const char* OutcomeSucceeded = "succeeded";
constexpr const char* OutcomeFailed = "failed";
constexpr const char* OutcomeStopped = "stopped";  // keepRunning cleared: Ctrl-C, a pulled modem

// One record. Numbers that are not known are -1; texts that are not known are empty (null in the
// file).
struct UpgradeRecord {
    std::string start;           // UTC, ISO 8601: 2026-12-09T00:30:09Z
    std::string end;
    std::string programVersion;  // this program's version
    std::string machine;         // the machine's name
    std::string tool;            // wizard, upgrade, production or dialog
    std::string port;            // COM3
    std::string serial;          // the modem's USB serial (device events only)
    std::string mode;            // normal or kernel: how the probe found the modem
    std::string ati1;            // the ATI1 line that named the product
    std::string modemVersion;    // what the version check read
    std::string image;           // the firmware image's file name
    int64_t imageBytes = -1;
    std::string imageSha256;     // 64 lower-case hex digits
    std::string outcome;         // OutcomeSucceeded, OutcomeFailed or OutcomeStopped
    int32_t reasonCode = -1;     // an UploadReason; -1 after a success
    std::string reason;          // its words, as stderr shows them
    int64_t sentBytes = 0;       // bytes the modem acknowledged
    int64_t totalBytes = 0;      // bytes the run was to send
    double seconds = 0;          // from the worker's start to the run's end
};

// "2026-12-09T00:30:09Z".
std::string isoTime(const platform::UtcTime& time);
// The time a --since word names: "2026-12-09" (midnight), "2026-12-09T14:05" or
// "2026-12-09T14:05:30" with an optional final Z, always UTC. False when it is no such time.
bool parseIsoTime(const std::string& text, std::string& normalised);

std::string recordLine(const UpgradeRecord& record);
bool parseRecordLine(const std::string& line, UpgradeRecord& record);

// The outcome word of an ended run.
const char* outcomeOf(int32_t phase, int32_t reason);

// The tool named in every record this process writes; without it, record 0 writes "wizard" and
// records 1 to 8 "dialog".
void setRecordTool(const char* tool);
constexpr const char* ToolWizard = "wizard";
constexpr const char* ToolUpgrade = "upgrade";
constexpr const char* ToolProduction = "production";
constexpr const char* ToolDialog = "dialog";

// Worker side: the start (time and ticks), and at the end the end time, the seconds and, when the
// run reached a modem, its record appended (job.run.recorded true once it is on the disk).
void beginRunFacts(UploadJob& job);
void recordRun(UploadJob& job, int jobIndex);
// The record of an ended run as recordRun writes it (the image is read for its size and digest).
UpgradeRecord recordOfRun(const UploadJob& job, int jobIndex);

// The first failure to write the record file, in words, the first time it is asked for; empty
// otherwise. Each program says it once.
std::string takeRecordWarning();
// The same as a sentence of its own, for a message box: capitalised, with its full stop.
std::string recordWarningSentence(const std::string& warning);
