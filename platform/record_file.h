// The upgrade record file: one per machine, appended by every process that runs uploads (two
// stations, a station and the wizard), read by `Tarvo32 history`. This seam owns where the file
// is, the lock all those processes share, and getting one line onto the disk whole; what a line
// says belongs to upload/upgrade_record.h.
//
// Where: on Linux $TARVO_HOST/upgrades.jsonl, locked with flock on $TARVO_HOST/upgrades.lock;
// neither is opened through a symbolic link. On Windows upgrades.jsonl in the program's own
// folder (beside Tarvo32.exe, which the user starts it from and which exists on every Windows
// from 95 on); the lock is the record file itself, opened without sharing write access, which
// every Windows from 95 on keeps machine-wide.
//
// An append waits at most RecordLockWaitMs for the lock, then gives up rather than hold an
// upload's end for ever. The line goes down in one write, after a line feed of its own when the
// file's last byte is not one (a line torn by a power cut then stays a line of its own and the
// records before it stay whole), and is flushed to the disk before the call returns.
//
// Results: true for success; on failure why says what went wrong, in words, with the path.
// Thread rule: safe from any thread; calls in one process serialise on the same lock as calls of
// different processes.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

constexpr uint32_t RecordLockWaitMs = 5000;   // real time, at most, for another writer to finish
constexpr uint32_t RecordLockRetryMs = 10;    // between two tries for the lock
constexpr const char* RecordFileName = "upgrades.jsonl";

// The record file's full path.
std::string recordFilePath();

// Appends line (without a line end of its own) and a line feed.
bool appendRecordLine(const std::string& line, std::string* why);

enum class RecordRead {
    Read,     // content holds the whole file
    Missing,  // no record file yet: nothing was ever recorded here
    Failed,   // why says what
};
// The whole file, as another writer's last complete append left it.
RecordRead readRecordFile(std::string& content, std::string* why);

}  // namespace platform
