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
#include "upload/upload_job.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// The firmware or fix image: read-only, other programs may read and write it meanwhile.
class ImageFile {
public:
    ImageFile() = default;
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    ~ImageFile() { close(); }

    bool open(const std::string& path)
    {
        close();
        file_ = std::fopen(path.c_str(), "rb");
        return file_ != nullptr;
    }
    // The size as the 32-bit byte counts of the record hold it; the position stays at the start.
    uint32_t size()
    {
        if (!file_ || std::fseek(file_, 0, SEEK_END) != 0) {
            return 0;
        }
        long end = std::ftell(file_);
        std::rewind(file_);
        return end < 0 ? 0 : static_cast<uint32_t>(end);
    }
    // Up to n bytes; fewer only at the end of the file (or when reading fails).
    int read(uint8_t* buffer, int n)
    {
        return file_ ? static_cast<int>(std::fread(buffer, 1, static_cast<size_t>(n), file_)) : 0;
    }
    void close()
    {
        if (file_) {
            std::fclose(file_);
            file_ = nullptr;
        }
    }

private:
    std::FILE* file_ = nullptr;
};

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

enum class BlockOutcome { Acknowledged, Refused, PortFailed };

// One block, sent up to four times. A repetition follows at once, without a purge: an ACK that
// comes late for one transmission is then taken as the answer to the next.
BlockOutcome transmitBlock(SerialPort port, const uint8_t* block)
{
    for (int transmission = 0;; ++transmission) {
        if (!writeAll(port, block, BlockSize)) {
            return BlockOutcome::PortFailed;
        }
        if (waitForAck(port)) {
            return BlockOutcome::Acknowledged;
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

// Steps 15 to 17 for one open file: its blocks from number 1, then EOT, the pause and the
// closing ping. False when the run must end (stop, unacknowledged block, port failure).
bool sendImage(UploadJob& job, SerialPort port, ImageFile& file)
{
    uint8_t number = FirstBlockNumber;
    uint8_t data[BlockDataSize];
    uint8_t block[BlockSize];
    for (;;) {
        pauseMs(BlockPauseMs);
        if (stopRequested(job)) {
            return false;
        }
        // Nothing that is already waiting can be the answer to a block not yet sent: drop it.
        // Before block 1 that is a NAK the receiver repeated just after the purge that ended the
        // 3 s pause; later it is the second ACK of a block that was acknowledged late and then
        // again for its repetition. Read as the answer to the next block, either would put the
        // sender one block ahead of the receiver for the rest of the file, and a NAK then lands
        // on the wrong block. Repetitions of one block still follow at once, without a purge.
        purgePort(port);
        int m = file.read(data, BlockDataSize);
        if (m <= 0) {
            break;
        }
        buildBlock(number, data, m, block);
        if (transmitBlock(port, block) != BlockOutcome::Acknowledged) {
            return false;
        }
        ++number;  // uint8_t: 255 is followed by 0
        job.sentBytes.fetch_add(static_cast<uint32_t>(m), relaxed);
    }
    const uint8_t eot = Eot;
    if (!writeAll(port, &eot, 1)) {
        return false;
    }
    pauseMs(AfterEotPauseMs);
    if (stopRequested(job)) {
        return false;
    }
    pingModem(port, ClosingPingLimitMs);  // the modem's answer, or silence, settles nothing
    return true;
}

// Everything between the start and the end step E; returning leads to E.
void runSteps(int portNumber, UploadJob& job, ImageFile& file)
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
            if (probePort(identity, DefaultSpeedCode) != NoPort) {
                job.portHandle.store(identity.portHandle, relaxed);
                job.identity.store(identity.flags, relaxed);
                flags = identity.flags;
                break;
            }
            if (attempt == ProbeAttempts || stopRequested(job)) {
                return;
            }
            pauseMs(ProbeRetryPauseMs);
            if (stopRequested(job)) {
                return;
            }
            prepareProbe();
        }
    }
    const SerialPort port = job.portHandle.load(relaxed);

    if ((flags & IdentityKernelMode) == 0) {
        if (FirmwareConfig.Firmware_check_version && !checkFirmwareVersion(port)) {
            return;
        }
        if (!sendPreUploadCommands(port)) {
            return;
        }
    }

    bool fixPass = false;
    for (;;) {
        if (stopRequested(job)) {
            return;
        }
        advancePhase(job, OpeningPort, ModemReady);
        if (!file.open(FirmwareConfig.FirmwarePath)) {
            return;
        }
        if (job.totalBytes.load(relaxed) == 0) {
            job.totalBytes.store(file.size(), relaxed);
        }
        advancePhase(job, ModemReady, StartingUpload);

        const char* command = PlainUploadCommand;
        if (FirmwareConfig.Firmware_include_kernel) {
            if (kernelGateAccepted(port)) {
                command = KernelUploadCommand;
            } else {
                if (stopRequested(job)) {
                    return;  // the refusal was our own stop, not the modem's
                }
                fixPass = true;
                file.close();
                if (!file.open(FirmwareConfig.FixFilePath)) {
                    return;
                }
                // Counted on every opening, so that a fully acknowledged run always ends with
                // sentBytes equal to totalBytes, whatever the two sizes are.
                job.totalBytes.fetch_add(file.size(), relaxed);
            }
        }

        if (!promptAppears(port, command)) {
            return;
        }
        writeText(port, PromptAnswer);
        advancePhase(job, StartingUpload, AwaitingReceiver);
        if (!firstNakArrives(port)) {
            return;
        }
        // The receiver repeats its NAK while it waits; let it settle, then drop the extras.
        pauseMs(AfterNakPauseMs);
        if (stopRequested(job)) {
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

bool waitForAck(SerialPort port)
{
    platform::Ticks start = platform::tickCount();
    for (;;) {
        uint8_t byte = 0;
        if (readBytes(port, &byte, 1) == 1) {
            return byte == Ack;
        }
        uint32_t left = remainingOf(start, AckWaitMs);
        if (left == 0 || waitAborted()) {
            return false;
        }
        waitForInput(port, left);
    }
}

bool sendPreUploadCommands(SerialPort port)
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
            return false;
        }
        command += Cr;
        purgePort(port);
        writeText(port, command.c_str());
        if (!waitForOk(port)) {
            return false;
        }
    }
    return true;
}

void runUpload(int portNumber, int jobIndex)
{
    if (jobIndex < 0 || jobIndex >= UploadJobCount) {
        return;
    }
    UploadJob& job = uploadJobs[jobIndex];
    // Every wait of this run, the link's included, ends early once keepRunning is cleared.
    ScopedWaitAbort stopWaits(job.keepRunning);
    ImageFile file;
    runSteps(portNumber, job, file);

    // E, the end of every run.
    uint32_t sent = job.sentBytes.load(relaxed);
    job.phase.store(sent > 0 && sent == job.totalBytes.load(relaxed) ? Succeeded : Failed, relaxed);
    SerialPort port = job.portHandle.load(relaxed);
    if (port != NoPort) {
        closePort(port);
        job.portHandle.store(NoPort, relaxed);
    }
    file.close();
}
