#include "upload/upgrade_record.h"

#include <cstdio>
#include <cstdlib>

#include "config/firmware_config.h"
#include "link/modem_probe.h"
#include "platform/clock.h"
#include "platform/com_port_name.h"
#include "platform/file_reading.h"
#include "platform/machine_name.h"
#include "platform/record_file.h"
#include "platform/threads.h"
#include "upload/json_line.h"
#include "upload/sha256.h"
#include "upload/upload_engine.h"
#include "upload/upload_reason.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;
constexpr int HashChunkBytes = 65536;
constexpr double MillisecondsPerSecond = 1000.0;
constexpr const char* ModeNormal = "normal";
constexpr const char* ModeKernel = "kernel";

// Set once before any worker runs; read by the workers.
const char* recordTool = nullptr;

platform::Mutex warningMutex;
std::string pendingWarning;   // the first failure, until it is taken
bool warningNoted = false;    // a failure was noted (said or still to be said)

void noteFailure(const std::string& why)
{
    std::lock_guard<platform::Mutex> lock(warningMutex);
    if (!warningNoted) {
        warningNoted = true;
        pendingWarning = "the upgrade record cannot be written (" + why + "); the upgrades go on without it";
    }
}

std::string fileNameOf(const std::string& path)
{
    std::string::size_type cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The image's size and digest, read as the engine reads it; unknown when it cannot be read.
void describeImage(const std::string& path, UpgradeRecord& record)
{
    record.image = fileNameOf(path);
    platform::InputFile file;
    if (path.empty() || file.open(path) != platform::FileOpenResult::Opened || file.size() > MaxImageBytes) {
        return;
    }
    Sha256 hash;
    uint8_t chunk[HashChunkBytes];
    for (;;) {
        int n = file.read(chunk, sizeof chunk);
        if (file.failed()) {
            return;
        }
        if (n <= 0) {
            break;
        }
        hash.update(chunk, static_cast<size_t>(n));
    }
    record.imageBytes = static_cast<int64_t>(file.size());
    record.imageSha256 = hash.hexDigest();
}

std::string textOrNull(const std::string& text) { return text.empty() ? "null" : jsonQuoted(text); }
std::string numberOrNull(int64_t n) { return n < 0 ? "null" : std::to_string(n); }

bool digits(const std::string& text, size_t at, size_t count, int& value)
{
    if (at + count > text.size()) {
        return false;
    }
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

std::string textField(const JsonObject& fields, const char* name)
{
    auto it = fields.find(name);
    return it != fields.end() && it->second.kind == JsonValue::Kind::String ? it->second.text : std::string();
}

// A number field; fallback when it is missing, null or not a number.
double numberField(const JsonObject& fields, const char* name, double fallback)
{
    auto it = fields.find(name);
    if (it == fields.end() || it->second.kind != JsonValue::Kind::Number) {
        return fallback;
    }
    char* end = nullptr;
    double value = std::strtod(it->second.text.c_str(), &end);
    return end && *end == '\0' ? value : fallback;
}

}  // namespace

std::string isoTime(const platform::UtcTime& t)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

bool parseIsoTime(const std::string& text, std::string& normalised)
{
    std::string s = text;
    if (!s.empty() && (s.back() == 'Z' || s.back() == 'z')) {
        s.pop_back();
    }
    platform::UtcTime t;
    if (!digits(s, 0, 4, t.year) || s.size() < 10 || s[4] != '-' || !digits(s, 5, 2, t.month) || s[7] != '-' ||
        !digits(s, 8, 2, t.day)) {
        return false;
    }
    if (s.size() > 10) {
        if ((s[10] != 'T' && s[10] != 't' && s[10] != ' ') || s.size() < 16 || !digits(s, 11, 2, t.hour) ||
            s[13] != ':' || !digits(s, 14, 2, t.minute)) {
            return false;
        }
        if (s.size() > 16 && (s.size() != 19 || s[16] != ':' || !digits(s, 17, 2, t.second))) {
            return false;
        }
    } else if (s.size() != text.size()) {
        return false;  // "2026-12-09Z"
    }
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59) {
        return false;
    }
    normalised = isoTime(t);
    return true;
}

std::string recordLine(const UpgradeRecord& r)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
    return "{\"start\":" + textOrNull(r.start) + ",\"end\":" + textOrNull(r.end) +
           ",\"program_version\":" + textOrNull(r.programVersion) + ",\"machine\":" + textOrNull(r.machine) +
           ",\"tool\":" + textOrNull(r.tool) + ",\"port\":" + textOrNull(r.port) +
           ",\"serial\":" + textOrNull(r.serial) + ",\"mode\":" + textOrNull(r.mode) +
           ",\"ati1\":" + textOrNull(r.ati1) + ",\"modem_version\":" + textOrNull(r.modemVersion) +
           ",\"image\":" + textOrNull(r.image) + ",\"image_bytes\":" + numberOrNull(r.imageBytes) +
           ",\"image_sha256\":" + textOrNull(r.imageSha256) + ",\"outcome\":" + textOrNull(r.outcome) +
           ",\"reason_code\":" + numberOrNull(r.reasonCode) + ",\"reason\":" + textOrNull(r.reason) +
           ",\"sent\":" + std::to_string(r.sentBytes) + ",\"total\":" + std::to_string(r.totalBytes) +
           ",\"seconds\":" + seconds + "}";
}

bool parseRecordLine(const std::string& line, UpgradeRecord& r)
{
    JsonObject fields;
    if (!parseFlatObject(line, fields)) {
        return false;
    }
    r = UpgradeRecord{};
    r.start = textField(fields, "start");
    r.port = textField(fields, "port");
    r.outcome = textField(fields, "outcome");
    std::string normalised;
    // Without these three a line says nothing history can show or count.
    if (!parseIsoTime(r.start, normalised) || r.port.empty() || r.outcome.empty()) {
        return false;
    }
    r.end = textField(fields, "end");
    r.programVersion = textField(fields, "program_version");
    r.machine = textField(fields, "machine");
    r.tool = textField(fields, "tool");
    r.serial = textField(fields, "serial");
    r.mode = textField(fields, "mode");
    r.ati1 = textField(fields, "ati1");
    r.modemVersion = textField(fields, "modem_version");
    r.image = textField(fields, "image");
    r.imageBytes = static_cast<int64_t>(numberField(fields, "image_bytes", -1));
    r.imageSha256 = textField(fields, "image_sha256");
    r.reasonCode = static_cast<int32_t>(numberField(fields, "reason_code", -1));
    r.reason = textField(fields, "reason");
    r.sentBytes = static_cast<int64_t>(numberField(fields, "sent", 0));
    r.totalBytes = static_cast<int64_t>(numberField(fields, "total", 0));
    r.seconds = numberField(fields, "seconds", 0);
    return true;
}

const char* outcomeOf(int32_t phase, int32_t reason)
{
    if (phase == Succeeded) {
        return OutcomeSucceeded;
    }
    return reason == ReasonStopped ? OutcomeStopped : OutcomeFailed;
}

void setRecordTool(const char* tool) { recordTool = tool; }

void beginRunFacts(UploadJob& job)
{
    job.run.startTime = isoTime(platform::utcNow());
    job.run.startTicks = platform::tickCount();
}

UpgradeRecord recordOfRun(const UploadJob& job, int jobIndex)
{
    UpgradeRecord r;
    r.start = job.run.startTime;
    r.end = job.run.endTime;
    r.programVersion = TARVO_VERSION;
    r.machine = platform::machineName();
    r.tool = recordTool ? recordTool : jobIndex == WizardJobIndex ? ToolWizard : ToolDialog;
    r.port = platform::comPortName(job.port.load(relaxed));
    r.serial = job.run.serial;
    uint32_t flags = job.identity.load(relaxed);
    if (flags != 0) {
        r.mode = (flags & IdentityKernelMode) != 0 ? ModeKernel : ModeNormal;
    }
    r.ati1 = job.run.ati1Answer;
    r.modemVersion = job.run.modemVersion;
    describeImage(FirmwareConfig.FirmwarePath, r);
    const int32_t phase = job.phase.load(relaxed);
    const int32_t reason = job.failReason.load(std::memory_order_acquire);
    r.outcome = outcomeOf(phase, reason);
    if (phase != Succeeded) {
        r.reasonCode = reason;
        r.reason = uploadReasonText(reason, job.failDetail);
    }
    r.sentBytes = job.sentBytes.load(relaxed);
    r.totalBytes = job.totalBytes.load(relaxed);
    r.seconds = job.run.elapsedMs / MillisecondsPerSecond;
    return r;
}

void recordRun(UploadJob& job, int jobIndex)
{
    job.run.endTime = isoTime(platform::utcNow());
    job.run.elapsedMs = platform::elapsedSince(job.run.startTicks);
    const int32_t phase = job.phase.load(relaxed);
    if (phase != Succeeded && phase != Failed) {
        return;  // the routine returned without a run (a port out of its range)
    }
    if (!job.run.modemReached && job.run.serial.empty()) {
        return;
    }
    std::string why;
    if (platform::appendRecordLine(recordLine(recordOfRun(job, jobIndex)), &why)) {
        job.run.recorded = true;
    } else {
        noteFailure(why);
    }
}

std::string recordWarningSentence(const std::string& warning)
{
    std::string sentence = warning;
    if (!sentence.empty() && sentence[0] >= 'a' && sentence[0] <= 'z') {
        sentence[0] = static_cast<char>(sentence[0] - 'a' + 'A');
    }
    return sentence + ".";
}

std::string takeRecordWarning()
{
    std::lock_guard<platform::Mutex> lock(warningMutex);
    std::string taken;
    taken.swap(pendingWarning);
    return taken;
}
