#include "upload/upload_engine.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/firmware_config.h"
#include "config/ini_reader.h"
#include "link/modem_probe.h"
#include "platform/clock.h"
#include "platform/com_port_name.h"
#include "platform/file_reading.h"
#include "upload/upload_job.h"
#include "upload/upload_reason.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// Why the run ends, written once at the step that failed: the detail first, then the code with
// release order so a display that sees the code sees the detail. A step that failed because the
// run was asked to stop (its wait ended early) reports the stop instead.
void fail(UploadJob& job, UploadReason reason, FailureDetail detail = {})
{
    if (job.failReason.load(relaxed) != ReasonNone) {
        return;
    }
    if (job.keepRunning.load(std::memory_order_acquire) == 0) {
        // Stopped by the user, or by the modem's removal: the owner said which before stopping.
        reason = job.stopCause.load(relaxed) == ReasonPulledOut ? ReasonPulledOut : ReasonStopped;
        detail = FailureDetail{};
    }
    job.failDetail = std::move(detail);
    job.failReason.store(reason, std::memory_order_release);
}

FailureDetail detailOf(int32_t number, std::string subject = {}, std::string answer = {})
{
    FailureDetail detail;
    detail.number = number;
    detail.subject = std::move(subject);
    detail.answer = std::move(answer);
    return detail;
}

// Opens and checks an image before the modem hears of it: it must be a regular, non-empty file of
// at most MaxImageBytes, and not Tarvo32.ini (the default name of both images), however named.
// which: 0 the firmware image, 1 the fix image.
bool openImage(UploadJob& job, platform::InputFile& file, const std::string& path, int32_t which)
{
    const std::string ini = iniPath();
    auto refuse = [&](UploadReason reason) {
        file.close();
        fail(job, reason, detailOf(which, path));
        return false;
    };
    if (path == ini) {
        return refuse(ReasonImageIsIni);
    }
    switch (file.open(path)) {
    case platform::FileOpenResult::Opened: break;
    case platform::FileOpenResult::Missing: return refuse(ReasonImageMissing);
    case platform::FileOpenResult::NotRegular: return refuse(ReasonImageNotRegular);
    case platform::FileOpenResult::Denied:
    case platform::FileOpenResult::Failed: return refuse(ReasonImageUnreadable);
    }
    if (file.isSameFileAs(ini)) {
        return refuse(ReasonImageIsIni);
    }
    if (file.size() == 0) {
        return refuse(ReasonImageEmpty);
    }
    if (file.size() > MaxImageBytes) {
        return refuse(ReasonImageTooLarge);
    }
    return true;
}

// The command as the user typed it: without its carriage return.
std::string withoutCr(const char* command)
{
    std::string text(command);
    if (!text.empty() && text.back() == Cr) {
        text.pop_back();
    }
    return text;
}

// The phase only moves forward, one step at a time, so a second file pass leaves it at 5.
void advancePhase(UploadJob& job, int32_t from, int32_t to)
{
    if (job.phase.load(relaxed) == from) {
        job.phase.store(to, relaxed);
    }
}

bool stopRequested(const UploadJob& job) { return job.keepRunning.load(relaxed) == 0; }

uint32_t remainingOf(platform::Ticks start, uint32_t limitMs)
{
    uint32_t elapsed = platform::elapsedSince(start);
    return elapsed >= limitMs ? 0 : limitMs - elapsed;
}

// The kernel gate: "ATBKOR\r" up to twice, each after the modem has finished talking.
bool kernelGateAccepted(SerialPort port)
{
    for (int attempt = 0; attempt < KernelGateAttempts; ++attempt) {
        drainInput(port);
        purgePort(port);
        writeText(port, KernelGateCommand);
        if (waitForOk(port)) {
            return true;
        }
        if (waitAborted()) {
            return false;
        }
    }
    return false;
}

// The upload-mode command and its prompt line, tested for time before each line.
bool promptAppears(SerialPort port, const char* command)
{
    purgePort(port);
    writeText(port, command);
    char line[PromptLineCapacity];
    platform::Ticks start = platform::tickCount();
    while (uint32_t left = remainingOf(start, PromptWaitMs)) {
        if (waitAborted()) {
            return false;
        }
        if (readLineWithin(port, line, sizeof line, LineCharTimeoutMs, start, PromptWaitMs) == 1) {
            if (std::strchr(line, PromptMarker)) {
                return true;
            }
            continue;
        }
        waitForInput(port, left);
    }
    return false;
}

// Every byte but NAK is ignored while the receiver gets ready.
bool firstNakArrives(SerialPort port)
{
    platform::Ticks start = platform::tickCount();
    while (uint32_t left = remainingOf(start, FirstNakWaitMs)) {
        if (waitAborted()) {
            return false;
        }
        uint8_t byte = 0;
        if (readBytes(port, &byte, 1) == 1) {
            if (byte == Nak) {
                return true;
            }
            continue;
        }
        waitForInput(port, left);
    }
    return false;
}

// A port that would not open because it has no device behind it, a device that is no serial
// port, or one held by another program or closed to us: probing it again finds no modem.
bool noModemCanBeThere(const ProbeReport& report)
{
    if (report.result != ProbeResult::NotOpened) {
        return false;
    }
    switch (report.openError) {
    case platform::PortOpenError::NoEntry:
    case platform::PortOpenError::NoDevice:
    case platform::PortOpenError::NotSerial:
    case platform::PortOpenError::Busy:
    case platform::PortOpenError::Denied: return true;
    case platform::PortOpenError::None:
    case platform::PortOpenError::Failed: break;
    }
    return false;
}

enum class BlockOutcome { Acknowledged, Refused, PortFailed };

// One block, sent up to four times. A repetition follows at once, without a purge: an ACK that
// comes late for one transmission is then taken as the answer to the next. lastReply: the
// modem's last reply byte, or NoReply.
BlockOutcome transmitBlock(SerialPort port, const uint8_t* block, int& lastReply)
{
    for (int transmission = 0;; ++transmission) {
        if (!writeAll(port, block, BlockSize)) {
            return BlockOutcome::PortFailed;
        }
        lastReply = awaitReply(port);
        if (lastReply == Ack) {
            return BlockOutcome::Acknowledged;
        }
        if (lastReply == PortGone) {
            return BlockOutcome::PortFailed;
        }
        if (waitAborted()) {
            return BlockOutcome::Refused;
        }
        if (transmission == BlockTransmissions - 1) {
            pauseMs(GiveUpPauseMs);
            return BlockOutcome::Refused;
        }
    }
}

std::string replyName(int reply)
{
    if (reply == Nak) {
        return "NAK";
    }
    if (reply < 0) {
        return std::string();
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(reply));
    return text;
}

// Steps 15 to 17 for one open file: its blocks from number 1, then EOT, the pause and the
// closing ping. False when the run must end (stop, unacknowledged block, port failure).
bool sendImage(UploadJob& job, SerialPort port, platform::InputFile& file)
{
    uint8_t number = FirstBlockNumber;
    int32_t ordinal = 1;  // the block's place in the file, for the user: no wrap at 256
    uint8_t data[BlockDataSize];
    uint8_t block[BlockSize];
    for (;;) {
        // The next block is read and laid out first, so that nothing but the purge lies between
        // the pause and the block on the line.
        int m = file.read(data, BlockDataSize);
        if (file.failed()) {
            fail(job, ReasonImageUnreadable, detailOf(0, FirmwareConfig.FirmwarePath));
            return false;
        }
        if (m > 0) {
            buildBlock(number, data, m, block);
        }
        pauseMs(BlockPauseMs);
        if (stopRequested(job)) {
            fail(job, ReasonStopped);
            return false;
        }
        // Nothing that is already waiting can be the answer to a block not yet sent: drop it.
        // Before block 1 that is a NAK the receiver repeated just after the purge that ended the
        // 3 s pause; later it is the second ACK of a block that was acknowledged late and then
        // again for its repetition. Read as the answer to the next block, either would put the
        // sender one block ahead of the receiver for the rest of the file, and a NAK then lands
        // on the wrong block. Repetitions of one block still follow at once, without a purge.
        purgePort(port);
        if (m <= 0) {
            break;
        }
        int reply = NoReply;
        switch (transmitBlock(port, block, reply)) {
        case BlockOutcome::Acknowledged: break;
        case BlockOutcome::PortFailed: fail(job, ReasonPortLost); return false;
        case BlockOutcome::Refused: fail(job, ReasonBlockRefused, detailOf(ordinal, {}, replyName(reply))); return false;
        }
        ++number;  // uint8_t: 255 is followed by 0
        ++ordinal;
        job.sentBytes.fetch_add(static_cast<uint32_t>(m), relaxed);
    }
    const uint8_t eot = Eot;
    if (!writeAll(port, &eot, 1)) {
        fail(job, ReasonPortLost);
        return false;
    }
    pauseMs(AfterEotPauseMs);
    if (stopRequested(job)) {
        fail(job, ReasonStopped);
        return false;
    }
    pingModem(port, ClosingPingLimitMs);  // the modem's answer, or silence, settles nothing
    return true;
}

// Everything between the start and the end step E; returning leads to E.
void runSteps(int portNumber, UploadJob& job, platform::InputFile& file, UnopenablePort unopenable)
{
    ModemIdentity identity;
    const std::string portName = platform::comPortName(portNumber);
    auto prepareProbe = [&] {
        resetIdentity(identity);
        identity.portName = portName;
        identity.speedCode = DefaultSpeedCode;
        job.totalBytes.store(0, relaxed);
        job.phase.store(OpeningPort, relaxed);
    };
    prepareProbe();

    uint32_t flags = job.identity.load(relaxed);
    if (flags == 0) {
        for (int attempt = 1;; ++attempt) {
            ProbeReport report;
            SerialPort found = probePort(identity, DefaultSpeedCode, &report);
            if (report.result != ProbeResult::NotOpened && report.result != ProbeResult::NoAnswer) {
                job.run.modemReached = true;
            }
            if (found != NoPort) {
                job.run.ati1Answer = report.answer;
                job.portHandle.store(identity.portHandle, relaxed);
                job.identity.store(identity.flags, relaxed);
                flags = identity.flags;
                break;
            }
            if (attempt == ProbeAttempts || stopRequested(job) ||
                (unopenable == UnopenablePort::FailAtOnce && noModemCanBeThere(report))) {
                // The last attempt's finding is the one the user needs.
                FailureDetail detail;
                UploadReason reason = reasonForProbe(report, detail);
                fail(job, reason, std::move(detail));
                return;
            }
            pauseMs(ProbeRetryPauseMs);
            if (stopRequested(job)) {
                fail(job, ReasonStopped);
                return;
            }
            prepareProbe();
        }
    }
    const SerialPort port = job.portHandle.load(relaxed);

    if ((flags & IdentityKernelMode) == 0) {
        std::string modemVersion;
        bool versionPassed = !FirmwareConfig.Firmware_check_version || checkFirmwareVersion(port, &modemVersion);
        job.run.modemVersion = modemVersion;
        if (!versionPassed) {
            fail(job, ReasonVersionRefused,
                 detailOf(FirmwareConfig.Firmware_check_version_LE ? 1 : 0, modemVersion,
                          FirmwareConfig.Firmware_check_version_VER));
            return;
        }
        PreUploadFailure refused;
        if (!sendPreUploadCommands(port, &refused)) {
            fail(job, refused.notAt ? ReasonCommandNotAt : ReasonCommandRefused,
                 detailOf(refused.key, refused.command, refused.answer));
            return;
        }
    }

    bool fixPass = false;
    for (;;) {
        if (stopRequested(job)) {
            fail(job, ReasonStopped);
            return;
        }
        advancePhase(job, OpeningPort, ModemReady);
        if (!openImage(job, file, FirmwareConfig.FirmwarePath, 0)) {
            return;
        }
        if (job.totalBytes.load(relaxed) == 0) {
            job.totalBytes.store(static_cast<uint32_t>(file.size()), relaxed);
        }
        advancePhase(job, ModemReady, StartingUpload);

        const char* command = PlainUploadCommand;
        if (FirmwareConfig.Firmware_include_kernel) {
            if (kernelGateAccepted(port)) {
                command = KernelUploadCommand;
            } else {
                if (stopRequested(job)) {
                    fail(job, ReasonStopped);
                    return;  // the refusal was our own stop, not the modem's
                }
                fixPass = true;
                file.close();
                if (!openImage(job, file, FirmwareConfig.FixFilePath, 1)) {
                    return;
                }
                // Counted on every opening, so that a fully acknowledged run always ends with
                // sentBytes equal to totalBytes, whatever the two sizes are.
                job.totalBytes.fetch_add(static_cast<uint32_t>(file.size()), relaxed);
            }
        }

        if (!promptAppears(port, command)) {
            fail(job, ReasonNoPrompt, detailOf(0, withoutCr(command)));
            return;
        }
        writeText(port, PromptAnswer);
        advancePhase(job, StartingUpload, AwaitingReceiver);
        if (!firstNakArrives(port)) {
            fail(job, ReasonNoNak);
            return;
        }
        // The receiver repeats its NAK while it waits; let it settle, then drop the extras.
        pauseMs(AfterNakPauseMs);
        if (stopRequested(job)) {
            fail(job, ReasonStopped);
            return;
        }
        purgePort(port);
        advancePhase(job, AwaitingReceiver, Transferring);

        if (!sendImage(job, port, file)) {
            return;
        }
        if (!fixPass) {
            return;
        }
        fixPass = false;
        file.close();
    }
}

}  // namespace

void buildBlock(uint8_t number, const uint8_t* data, int m, uint8_t out[BlockSize])
{
    if (m < 0) {
        m = 0;
    }
    if (m > BlockDataSize) {
        m = BlockDataSize;
    }
    out[0] = Soh;
    out[1] = number;
    out[2] = static_cast<uint8_t>(255 - number);
    uint8_t* payload = out + 3;
    if (m > 0) {
        std::memcpy(payload, data, static_cast<size_t>(m));
    }
    std::memset(payload + m, BlockFill, static_cast<size_t>(BlockDataSize - m));
    uint8_t sum = 0;
    for (int i = 0; i < BlockDataSize; ++i) {
        sum = static_cast<uint8_t>(sum + payload[i]);
    }
    out[BlockSize - 1] = sum;
}

bool writeAll(SerialPort port, const uint8_t* bytes, int32_t count)
{
    int32_t done = 0;
    platform::Ticks lastProgress = platform::tickCount();
    while (done < count) {
        int32_t put = writeBytes(port, bytes + done, count - done);
        if (put < 0) {
            return false;  // the device failed (a USB modem pulled out): nothing will be taken
        }
        if (put > 0) {
            done += put;
            lastProgress = platform::tickCount();
            continue;
        }
        if (waitAborted() || platform::elapsedSince(lastProgress) >= WriteStallLimitMs) {
            return false;
        }
        pauseMs(WriteRetryPauseMs);
    }
    return true;
}

bool waitForAck(SerialPort port) { return awaitReply(port) == Ack; }

int awaitReply(SerialPort port)
{
    platform::Ticks start = platform::tickCount();
    for (;;) {
        // Waiting comes first: just after a block its answer cannot be there yet, and asking the
        // port anyway would cost a system call per block for nothing.
        uint32_t left = remainingOf(start, AckWaitMs);
        bool ready = left > 0 && !waitAborted() && waitForInput(port, left);
        uint8_t byte = 0;
        int32_t got = readBytes(port, &byte, 1);
        if (got == 1) {
            return byte;
        }
        if (got < 0) {
            return PortGone;
        }
        if (!ready && (remainingOf(start, AckWaitMs) == 0 || waitAborted())) {
            return NoReply;
        }
    }
}

bool sendPreUploadCommands(SerialPort port, PreUploadFailure* failure)
{
    if (port == NoPort) {
        return false;
    }
    const std::string ini = iniPath();
    for (int i = 1; i <= MaxPreUploadCommands; ++i) {
        std::string command = getPrivateProfileString(PreUploadSection, std::to_string(i), "", ini);
        if (command.empty()) {
            return true;
        }
        for (char& c : command) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        if (command.compare(0, 2, "AT") != 0) {
            if (failure) {
                *failure = PreUploadFailure{i, command, {}, true};
            }
            return false;
        }
        std::string answer;
        purgePort(port);
        writeText(port, (command + Cr).c_str());
        if (!waitForOk(port, &answer)) {
            if (failure) {
                // The echo of the command alone is no answer.
                *failure = PreUploadFailure{i, command, answer == command ? std::string() : answer, false};
            }
            return false;
        }
    }
    return true;
}

void runUpload(int portNumber, int jobIndex, UnopenablePort unopenable)
{
    if (jobIndex < 0 || jobIndex >= UploadJobCount) {
        return;
    }
    UploadJob& job = uploadJobs[jobIndex];
    // Every wait of this run, the link's included, ends early once keepRunning is cleared.
    ScopedWaitAbort stopWaits(job.keepRunning);
    platform::InputFile file;
    runSteps(portNumber, job, file, unopenable);

    // E, the end of every run.
    uint32_t sent = job.sentBytes.load(relaxed);
    bool succeeded = sent > 0 && sent == job.totalBytes.load(relaxed);
    if (!succeeded && stopRequested(job)) {
        fail(job, ReasonStopped);  // a stop seen by a wait of the link, not by a step here
    }
    job.phase.store(succeeded ? Succeeded : Failed, relaxed);
    SerialPort port = job.portHandle.load(relaxed);
    if (port != NoPort) {
        closePort(port);
        job.portHandle.store(NoPort, relaxed);
    }
    file.close();
}
