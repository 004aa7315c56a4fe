// The upload engine against the in-process modem on the virtual clock: what reaches the modem,
// the phase and byte counts it ends with, and the time its waits take.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/modem_probe.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "support/scratch_os.h"
#include "support/scripted_port.h"
#include "tools/modemsim/simulated_ports.h"
#include "upload/upload_engine.h"
#include "upload/upload_fixture.h"
#include "upload/upload_reason.h"

namespace {

using modemsim::ModemSettings;
using modemsim::ReceivedBlock;
using upload_test::UploadFixture;

constexpr int TestPort = 3;
constexpr const char* TestPortName = "COM3";

class UploadEngineTest : public UploadFixture {
protected:
    modemsim::SimulatedModem& addModem(ModemSettings settings = {})
    {
        return ports_.add(TestPortName, std::move(settings));
    }

    // One run on the wizard's record; the virtual time it took.
    uint32_t run()
    {
        platform::Ticks start = platform::tickCount();
        runUpload(TestPort, WizardJobIndex);
        return platform::elapsedSince(start);
    }

    UploadJob& job() { return uploadJobs[WizardJobIndex]; }

    static bool sent(const modemsim::SimulatedModem& modem, const std::string& command)
    {
        auto commands = modem.commands();
        return std::find(commands.begin(), commands.end(), command) != commands.end();
    }

    static std::vector<uint8_t> numbers(const std::vector<ReceivedBlock>& blocks)
    {
        std::vector<uint8_t> out;
        for (const auto& b : blocks) {
            out.push_back(b.number);
        }
        return out;
    }

    void expectEndedClean(int32_t phase)
    {
        EXPECT_EQ(job().phase.load(), phase);
        EXPECT_EQ(job().portHandle.load(), NoPort);
        EXPECT_EQ(platform::openDeviceCount(), 0);
    }

    platform::ScopedVirtualClock clock_;
    modemsim::SimulatedPorts ports_;
};

// Files that end on, before and without a block boundary: every byte arrives once, in order,
// the last block filled with 0x00, and the outcome follows sentBytes == totalBytes != 0.
TEST_F(UploadEngineTest, ImageSizesArriveWhole)
{
    struct Case {
        size_t size;
        size_t blocks;
        int32_t phase;
    };
    for (Case c : {Case{300, 3, Succeeded}, Case{256, 2, Succeeded}, Case{1, 1, Succeeded}}) {
        SCOPED_TRACE(c.size);
        upload_test::clearJob(job());
        auto image = writeFirmware(c.size);
        auto& modem = addModem();
        run();
        expectEndedClean(c.phase);
        EXPECT_EQ(job().sentBytes.load(), c.size);
        EXPECT_EQ(job().totalBytes.load(), c.size);
        EXPECT_TRUE(sent(modem, "ATUPX"));
        EXPECT_EQ(modem.counters().eots, 1u);
        auto blocks = modem.blocks();
        ASSERT_EQ(blocks.size(), c.blocks);
        for (const auto& b : blocks) {
            EXPECT_TRUE(b.checksumOk && b.complementOk);
        }
        auto images = modem.images();
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(images[0].trimmed(c.size), image);
        EXPECT_TRUE(images[0].fillIsZero(c.size));
        EXPECT_EQ(images[0].data.size(), c.blocks * BlockDataSize);
    }
}

TEST_F(UploadEngineTest, BlockNumbersWrapAfter255)
{
    const size_t blockCount = 300;
    auto image = writeFirmware(blockCount * BlockDataSize - 5);
    auto& modem = addModem();
    run();
    expectEndedClean(Succeeded);
    auto blocks = modem.blocks();
    ASSERT_EQ(blocks.size(), blockCount);
    EXPECT_EQ(blocks[0].number, 1);
    EXPECT_EQ(blocks[254].number, 255);
    EXPECT_EQ(blocks[255].number, 0);
    EXPECT_EQ(blocks[256].number, 1);
    EXPECT_EQ(modem.counters().blocksOutOfOrder, 0u);
    EXPECT_EQ(modem.images()[0].trimmed(image.size()), image);
}

TEST_F(UploadEngineTest, BlockLayout)
{
    uint8_t data[BlockDataSize];
    for (int i = 0; i < BlockDataSize; ++i) {
        data[i] = static_cast<uint8_t>(0xF0 + i);
    }
    // The complement and the checksum worked out by hand: the sum of 0xF0, 0xF1, ... over the
    // first m bytes, modulo 256.
    struct Case {
        uint8_t number;
        int m;
        uint8_t complement;
        uint8_t checksum;
    };
    for (Case c : {Case{1, 128, 0xFE, 0xC0}, Case{255, 44, 0x00, 0xF2}, Case{0, 1, 0xFF, 0xF0},
                   Case{7, 0, 0xF8, 0x00}}) {
        SCOPED_TRACE(c.number);
        uint8_t block[BlockSize];
        buildBlock(c.number, data, c.m, block);
        EXPECT_EQ(block[0], Soh);
        EXPECT_EQ(block[1], c.number);
        EXPECT_EQ(block[2], c.complement);
        for (int i = 0; i < BlockDataSize; ++i) {
            EXPECT_EQ(block[3 + i], i < c.m ? data[i] : 0x00) << i;
        }
        EXPECT_EQ(block[131], c.checksum);
    }
}

// A NAK is answered at once with the same block; the fourth refusal ends the run.
TEST_F(UploadEngineTest, RefusedBlocksAreSentAgainWithTheirNumber)
{
    struct Case {
        int naks;
        int32_t phase;
        size_t transmissionsOfBlock2;
    };
    for (Case c : {Case{1, Succeeded, 2}, Case{3, Succeeded, 4}, Case{4, Failed, 4}}) {
        SCOPED_TRACE(c.naks);
        upload_test::clearJob(job());
        auto image = writeFirmware(5 * BlockDataSize);
        ModemSettings settings;
        settings.nakBlockTimes[2] = c.naks;
        auto& modem = addModem(settings);
        run();
        expectEndedClean(c.phase);
        auto blocks = modem.blocks();
        size_t twos = std::count_if(blocks.begin(), blocks.end(), [](const ReceivedBlock& b) { return b.number == 2; });
        EXPECT_EQ(twos, c.transmissionsOfBlock2);
        if (c.phase == Failed) {
            EXPECT_EQ(job().sentBytes.load(), BlockDataSize);
            EXPECT_EQ(modem.counters().eots, 0u);
            EXPECT_EQ(job().failReason.load(), ReasonBlockRefused);
            EXPECT_EQ(uploadReasonText(job().failReason.load(), job().failDetail), "block 2 refused four times (NAK)");
        } else {
            EXPECT_EQ(job().failReason.load(), ReasonNone);
            EXPECT_EQ(modem.images()[0].trimmed(image.size()), image);
        }
    }
}

// The ACK that comes after the 2 s wait is taken as the answer to the repetition sent meanwhile.
TEST_F(UploadEngineTest, LateAckAnswersTheRepetition)
{
    auto image = writeFirmware(6 * BlockDataSize);
    ModemSettings settings;
    settings.lateAckBlock = 3;
    auto& modem = addModem(settings);
    run();
    expectEndedClean(Succeeded);
    // The repetition reached the modem while it was still busy with the late ACK; it was not
    // taken as a new block, and block 4 followed the late ACK.
    EXPECT_EQ(modem.counters().bytesIgnored, static_cast<uint32_t>(BlockSize));
    EXPECT_EQ(numbers(modem.blocks()), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(modem.counters().blocksGood, 6u);
    EXPECT_EQ(modem.images()[0].trimmed(image.size()), image);
    EXPECT_EQ(job().sentBytes.load(), image.size());
}

TEST_F(UploadEngineTest, KernelModeSkipsVersionGateAndPreUploadCommands)
{
    writeFirmware(400);
    writeIni("[AT_COMMAND_BEFORE_UPLOAD]\n1=AT&F\n");
    FirmwareConfig.Firmware_check_version = true;
    FirmwareConfig.Firmware_check_version_VER = "9.99";  // a normal modem would be refused
    ModemSettings settings;
    settings.kernelMode = true;
    auto& modem = addModem(settings);
    run();
    expectEndedClean(Succeeded);
    EXPECT_FALSE(sent(modem, "ATI1"));
    EXPECT_FALSE(sent(modem, "AT&F"));
    EXPECT_TRUE(sent(modem, "ATUPX"));
    EXPECT_EQ(job().identity.load(), IdentityAti9Key | IdentityKernelMode);
}

TEST_F(UploadEngineTest, PreUploadCommandsGoUpperCasedBeforeTheUploadCommand)
{
    writeFirmware(200);
    writeIni("[AT_COMMAND_BEFORE_UPLOAD]\n1=at&f\n2=ATS0=0\n4=ATZ\n");
    auto& modem = addModem();
    run();
    expectEndedClean(Succeeded);
    auto commands = modem.commands();
    auto at = [&](const std::string& c) { return std::find(commands.begin(), commands.end(), c) - commands.begin(); };
    EXPECT_LT(at("AT&F"), at("ATS0=0"));
    EXPECT_LT(at("ATS0=0"), at("ATUPX"));
    EXPECT_FALSE(sent(modem, "ATZ"));  // the list ends at the first empty key
}

TEST_F(UploadEngineTest, RefusedPreUploadCommandEndsTheRunBeforeUploadMode)
{
    struct Case {
        const char* ini;
        int errors;
        const char* reason;
    };
    for (Case c : {Case{"1=XYZ\n", 0, "pre-upload command 1 (XYZ) does not begin with AT"},
                   Case{"1=A\n", 0, "pre-upload command 1 (A) does not begin with AT"},
                   Case{"1=AT&F\n", 1, "pre-upload command 1 (AT&F) was not answered OK (ERROR)"},
                   Case{"1=ATZ\n2=at&f\n", 1, "pre-upload command 2 (AT&F) was not answered OK (ERROR)"}}) {
        SCOPED_TRACE(c.ini);
        upload_test::clearJob(job());
        writeFirmware(200);
        writeIni(std::string("[AT_COMMAND_BEFORE_UPLOAD]\n") + c.ini);
        ModemSettings settings;
        if (c.errors) {
            settings.errorTimes["AT&F"] = c.errors;
        }
        auto& modem = addModem(settings);
        run();
        expectEndedClean(Failed);
        EXPECT_FALSE(sent(modem, "ATUPX"));
        EXPECT_FALSE(sent(modem, "XYZ"));
        EXPECT_EQ(job().totalBytes.load(), 0u);
        EXPECT_EQ(uploadReasonText(job().failReason.load(), job().failDetail), c.reason);
    }
}

TEST_F(UploadEngineTest, VersionGateRefusesAnOldModem)
{
    writeFirmware(200);
    FirmwareConfig.Firmware_check_version = true;
    FirmwareConfig.Firmware_check_version_VER = "1.05";  // the modem says V 1.05: not newer
    auto& modem = addModem();
    run();
    expectEndedClean(Failed);
    EXPECT_FALSE(sent(modem, "ATUPX"));
    EXPECT_EQ(uploadReasonText(job().failReason.load(), job().failDetail),
              "the version check refused the modem's firmware 1.05 (it must be above 1.05)");
}

// ATBKOR refused twice: the fix file goes first with ATUPX, then ATBKOR is accepted and the
// main file follows with ATUPXK, numbered from 1 again. The fix file is counted in totalBytes
// whatever its size, so the fully acknowledged run succeeds (here the fix file is the larger).
TEST_F(UploadEngineTest, KernelGateRefusedTwiceSendsTheFixFileFirst)
{
    FirmwareConfig.Firmware_include_kernel = true;
    auto image = writeFirmware(300);
    auto fix = writeFix(1000);
    ModemSettings settings;
    settings.errorTimes["ATBKOR"] = 2;
    auto& modem = addModem(settings);
    run();
    expectEndedClean(Succeeded);
    EXPECT_EQ(job().totalBytes.load(), 1300u);
    EXPECT_EQ(job().sentBytes.load(), 1300u);

    auto images = modem.images();
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].trimmed(fix.size()), fix);
    EXPECT_EQ(images[1].trimmed(image.size()), image);
    EXPECT_EQ(numbers(modem.blocks()), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3}));

    std::vector<std::string> gate;
    for (const auto& c : modem.commands()) {
        if (c.rfind("ATBKOR", 0) == 0 || c.rfind("ATUPX", 0) == 0) {
            gate.push_back(c);
        }
    }
    EXPECT_EQ(gate, (std::vector<std::string>{"ATBKOR", "ATBKOR", "ATUPX", "ATBKOR", "ATUPXK"}));
}

TEST_F(UploadEngineTest, KernelGateAcceptedUsesTheKernelUploadCommand)
{
    FirmwareConfig.Firmware_include_kernel = true;
    writeFirmware(300);
    writeFix(100);
    auto& modem = addModem();
    run();
    expectEndedClean(Succeeded);
    EXPECT_TRUE(sent(modem, "ATUPXK"));
    EXPECT_FALSE(sent(modem, "ATUPX"));
    EXPECT_EQ(modem.images().size(), 1u);
    EXPECT_EQ(job().totalBytes.load(), 300u);
}

TEST_F(UploadEngineTest, MissingFilesEndTheRun)
{
    struct Case {
        bool kernel;
        bool mainFile;
        bool refuseGate;
    };
    for (Case c : {Case{false, false, false}, Case{true, true, true}}) {
        SCOPED_TRACE(c.kernel);
        upload_test::clearJob(job());
        FirmwareConfig.Firmware_include_kernel = c.kernel;
        std::filesystem::remove(FirmwareConfig.FirmwarePath);
        std::filesystem::remove(FirmwareConfig.FixFilePath);
        if (c.mainFile) {
            writeFirmware(300);
        }
        ModemSettings settings;
        if (c.refuseGate) {
            settings.errorTimes["ATBKOR"] = 2;
        }
        auto& modem = addModem(settings);
        run();
        expectEndedClean(Failed);
        EXPECT_FALSE(sent(modem, "ATUPX"));
        EXPECT_EQ(job().failReason.load(), ReasonImageMissing);
        EXPECT_EQ(job().failDetail.number, c.mainFile ? 1 : 0);  // the fix image, or the firmware
    }
}

// Nothing that cannot be a firmware image switches the modem to upload mode: the run ends before
// "ATUPX" or "ATBKOR", saying why. The same holds for the fix image when its pass starts.
TEST_F(UploadEngineTest, ImagesThatCannotBeFirmwareNeverReachUploadMode)
{
    const std::string ini = iniPath();
    writeImage(dir_ + "/empty.bin", 0, 1);
    {
        std::ofstream big(dir_ + "/big.bin", std::ios::binary);
        big.seekp(static_cast<std::streamoff>(MaxImageBytes));
        big.put('x');  // one byte over, the rest a hole
    }
    struct Case {
        std::string path;
        UploadReason reason;
    };
    std::vector<Case> cases = {
        {ini, ReasonImageIsIni},                        // no Firmware_file: the documented default
        {dir_ + "/", ReasonImageNotRegular},            // an empty Firmware_file
        {dir_, ReasonImageNotRegular},                  // a directory
        {dir_ + "/empty.bin", ReasonImageEmpty},
        {dir_ + "/big.bin", ReasonImageTooLarge},
        {dir_ + "/none.bin", ReasonImageMissing},
    };
    // What the host's file system can make: links and pipes in a folder (Windows has no FIFO
    // there, and no /dev/zero to link to).
    std::error_code failed;
    std::filesystem::create_symlink(ini, dir_ + "/linked.bin", failed);
    if (!failed) {
        cases.push_back({dir_ + "/linked.bin", ReasonImageIsIni});  // the INI under another name
    }
    std::filesystem::create_hard_link(ini, dir_ + "/hardlinked.bin", failed);
    if (!failed) {
        cases.push_back({dir_ + "/hardlinked.bin", ReasonImageIsIni});
    }
    const std::string fifo = dir_ + "/fifo.bin";
    if (scratch::makeFifo(fifo)) {
        cases.push_back({fifo, ReasonImageNotRegular});  // would block the open for good
    }
    if (std::filesystem::exists("/dev/zero")) {
        std::filesystem::create_symlink("/dev/zero", dir_ + "/zero.bin", failed);
        if (!failed) {
            cases.push_back({dir_ + "/zero.bin", ReasonImageNotRegular});  // would upload without end
        }
    }
    for (bool kernel : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.path + (kernel ? " as the fix image" : ""));
            upload_test::clearJob(job());
            FirmwareConfig.Firmware_include_kernel = kernel;
            ModemSettings settings;
            if (kernel) {
                writeFirmware(300);
                FirmwareConfig.FixFilePath = c.path;
                settings.errorTimes["ATBKOR"] = 2;
            } else {
                FirmwareConfig.FirmwarePath = c.path;
            }
            auto& modem = addModem(settings);
            uint32_t took = run();
            expectEndedClean(Failed);
            EXPECT_FALSE(sent(modem, "ATUPX"));
            EXPECT_FALSE(sent(modem, "Y"));
            EXPECT_EQ(sent(modem, "ATBKOR"), kernel);  // the fix image is only wanted after it
            EXPECT_EQ(modem.counters().eots, 0u);
            EXPECT_EQ(job().failReason.load(), c.reason);
            EXPECT_EQ(job().failDetail.number, kernel ? 1 : 0);
            EXPECT_EQ(job().failDetail.subject, c.path);
            EXPECT_LT(took, 2 * KernelGateAttempts * (DrainInputMs + WaitForOkMs));
            FirmwareConfig.FirmwarePath = dir_ + "/firmware.bin";
            FirmwareConfig.FixFilePath = dir_ + "/fix.bin";
        }
    }
}

// The dialogue's windows, on the virtual clock: the run ends at the window's end, no sooner.
TEST_F(UploadEngineTest, SilentStagesEndAtTheirTimeOut)
{
    struct Case {
        const char* name;
        bool noPrompt;
        bool noNak;
        uint32_t windowMs;
    };
    for (Case c : {Case{"no upload prompt after ATUPX", true, false, PromptWaitMs},
                   Case{"the modem did not ask for the first block within 30 s (no NAK)", false, true, FirstNakWaitMs}}) {
        SCOPED_TRACE(c.name);
        upload_test::clearJob(job());
        writeFirmware(300);
        ModemSettings settings;
        settings.noPrompt = c.noPrompt;
        settings.noFirstNak = c.noNak;
        auto& modem = addModem(settings);
        uint32_t took = run();
        expectEndedClean(Failed);
        EXPECT_GE(took, c.windowMs);
        EXPECT_LT(took, c.windowMs + 1000);
        EXPECT_EQ(sent(modem, "Y"), c.noNak);
        EXPECT_EQ(modem.counters().blocksGood, 0u);
        EXPECT_EQ(job().sentBytes.load(), 0u);
        EXPECT_EQ(uploadReasonText(job().failReason.load(), job().failDetail), c.name);
    }
}

// No modem: four probes 5 s apart, then the end.
TEST_F(UploadEngineTest, AbsentModemIsProbedFourTimes)
{
    writeFirmware(300);
    uint32_t took = run();
    expectEndedClean(Failed);
    EXPECT_GE(took, 3 * ProbeRetryPauseMs);
    EXPECT_LT(took, 4 * ProbeRetryPauseMs);
    EXPECT_EQ(job().failReason.load(), ReasonPortNoEntry);

    upload_test::clearJob(job());
    ModemSettings silent;
    silent.silent = true;
    auto& modem = addModem(silent);
    run();
    expectEndedClean(Failed);
    EXPECT_EQ(modem.openCount(), ProbeAttempts);
    EXPECT_EQ(job().failReason.load(), ReasonNoAnswer);
}

// The probe's last finding is the reason: the modem of another product names itself.
TEST_F(UploadEngineTest, ProbeFailuresSayWhatAnswered)
{
    struct Case {
        const char* name;
        std::function<void(ModemSettings&)> setUp;
        const char* reason;
    };
    const Case cases[] = {
        {"other product", [](ModemSettings& s) { s.ati1Lines = {"Acme 33.6 Voice", "V 2.0"}; },
         "a modem of another product answered (ATI1: Acme 33.6 Voice)"},
        {"other maker", [](ModemSettings& s) { s.ati9Lines = {"ZYX-14.4"}; },
         "a modem of another maker answered (ATI9: ZYX-14.4)"},
        {"late", [](ModemSettings& s) { s.answerDelayMsFor["ATI9"] = 400; }, "the modem answered too late"},
    };
    writeFirmware(300);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        upload_test::clearJob(job());
        ModemSettings settings;
        c.setUp(settings);
        addModem(settings);
        run();
        expectEndedClean(Failed);
        EXPECT_EQ(uploadReasonText(job().failReason.load(), job().failDetail), c.reason);
    }
}

// A modem pulled out mid-transfer: writes fail, and the run ends through its end, failed, soon.
TEST_F(UploadEngineTest, PulledOutModemEndsTheRunAsFailed)
{
    writeFirmware(50 * BlockDataSize);
    ModemSettings settings;
    settings.pullOutAfterBlocks = 10;
    auto& modem = addModem(settings);
    uint32_t took = run();
    expectEndedClean(Failed);
    EXPECT_EQ(job().sentBytes.load(), 10u * BlockDataSize);
    EXPECT_FALSE(modem.isOpen());
    EXPECT_EQ(job().failReason.load(), ReasonPortLost);
    // The dialogue before the blocks costs the 3 s pause; what follows the pull-out is brief.
    EXPECT_LT(took, AfterNakPauseMs + BlockTransmissions * AckWaitMs + 1000);
}

// A port that takes no byte at all (a stalled driver): the block write gives up after its limit.
class StalledPort : public platform::PortDevice {
public:
    int read(uint8_t* buf, int n) override
    {
        int got = 0;
        while (got < n && !input_.empty()) {
            buf[got++] = input_.front();
            input_.pop_front();
        }
        return got;
    }
    int write(const uint8_t* buf, int n) override
    {
        std::string text(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
        if (buf[0] == Soh) {
            ++blockWrites;
            return 0;
        }
        if (text == PlainUploadCommand) {
            queue("ATUPX\r\nUpload (Y/N)?\r\n");
        } else if (text == PromptAnswer) {
            queue("\x15");
        }
        return n;
    }
    void purge() override { input_.clear(); }
    bool waitReadable(uint32_t timeoutMs) override
    {
        if (input_.empty()) {
            platform::sleepMs(timeoutMs);
        }
        return !input_.empty();
    }
    void lowerDtr() override {}

    static inline int blockWrites = 0;

private:
    void queue(const std::string& s) { input_.insert(input_.end(), s.begin(), s.end()); }
    std::deque<uint8_t> input_;
};

TEST_F(UploadEngineTest, PortThatTakesNothingEndsTheRun)
{
    writeFirmware(300);
    platform::setPortOpener([](const std::string&, uint32_t) { return std::make_unique<StalledPort>(); });
    StalledPort::blockWrites = 0;
    // An identity already known: the engine uses the open port as it is, without a probe.
    SerialPort port = openPort(TestPortName, DefaultSpeedCode);
    ASSERT_NE(port, NoPort);
    job().portHandle.store(port);
    job().identity.store(IdentityAti9Key | IdentityKernelMode);
    uint32_t took = run();
    platform::setPortOpener(nullptr);
    expectEndedClean(Failed);
    EXPECT_GE(StalledPort::blockWrites, 1);
    EXPECT_EQ(job().failReason.load(), ReasonPortLost);
    EXPECT_LT(took, AfterNakPauseMs + WriteStallLimitMs + 500);
}

TEST_F(UploadEngineTest, WaitForAckJudgesTheFirstByte)
{
    struct Case {
        const char* name;
        uint32_t at;
        std::string bytes;
        bool result;
        uint32_t tookMs;
    };
    for (const Case& c : {Case{"ACK", 100, "\x06", true, 100}, Case{"NAK", 50, "\x15\x06", false, 50},
                          Case{"other byte", 10, "C\x06", false, 10}, Case{"late ACK", 2100, "\x06", false, 2000},
                          Case{"silence", 0, "", false, 2000}}) {
        SCOPED_TRACE(c.name);
        testing_support::ScriptedPorts scripted;
        auto& device = scripted.add("COM9");
        SerialPort port = openPort("COM9", DefaultSpeedCode);
        ASSERT_NE(port, NoPort);
        if (!c.bytes.empty()) {
            device.arriveIn(c.at, c.bytes);
        }
        platform::Ticks start = platform::tickCount();
        EXPECT_EQ(waitForAck(port), c.result);
        EXPECT_EQ(platform::elapsedSince(start), c.tookMs);
        closePort(port);
    }
}

}  // namespace

namespace {

// The receiver repeats its NAK while it waits. One that lands just after the purge ending the
// 3 s pause (the pause is counted in whole milliseconds, so it can be a fraction of one short)
// must not be taken as the answer to block 1: the block would go twice, both copies would be
// acknowledged, and every later ACK would then be read as the answer to the block after it.
TEST_F(UploadEngineTest, NakJustAfterThePurgeIsNotTakenForBlockOne)
{
    writeFirmware(3 * BlockDataSize);
    testing_support::ScriptedPorts scripted;
    auto& device = scripted.add(TestPortName);
    int blockWrites = 0;
    device.onWrite = [&](testing_support::ScriptedPort& port, const std::string& written) {
        if (written == PlainUploadCommand) {
            port.arriveIn(5, "ATUPX\r\nUpload (Y/N)?\r\n");
        } else if (written == PromptAnswer) {
            port.arriveIn(1, "\x15");
            port.arriveIn(1 + AfterNakPauseMs + 1, "\x15");
        } else if (!written.empty() && written[0] == static_cast<char>(Soh)) {
            ++blockWrites;
            port.arriveIn(12, "\x06");
        } else if (written == "AT\r") {
            port.arriveIn(1, "OK\r\n");
        }
    };
    SerialPort port = openPort(TestPortName, DefaultSpeedCode);
    ASSERT_NE(port, NoPort);
    job().portHandle.store(port);
    job().identity.store(IdentityAti9Key | IdentityKernelMode);
    run();
    expectEndedClean(Succeeded);
    EXPECT_EQ(blockWrites, 3);
}

// A receiver that is late with an ACK and then acknowledges the repetition as well leaves a
// second ACK waiting. Taken for the next block's answer it would put the sender one block ahead;
// the NAK of the next block would then be read as the answer to the block after it, and the file
// would arrive with a block missing while the run reported success.
TEST_F(UploadEngineTest, SecondAckOfALateBlockIsNotTakenForTheNext)
{
    const std::vector<uint8_t> image = writeFirmware(5 * BlockDataSize);
    testing_support::ScriptedPorts scripted;
    auto& device = scripted.add(TestPortName);
    constexpr uint32_t LateAckMs = AckWaitMs + 100;
    constexpr uint32_t AckTurnaroundMs = 12;
    uint8_t expected = FirstBlockNumber;
    int transmissionsOfTwo = 0;
    bool threeRefused = false;
    std::vector<uint8_t> received;
    device.onWrite = [&](testing_support::ScriptedPort& port, const std::string& written) {
        if (written == PlainUploadCommand) {
            port.arriveIn(5, "ATUPX\r\nUpload (Y/N)?\r\n");
        } else if (written == PromptAnswer) {
            port.arriveIn(1, "\x15");
        } else if (written == "AT\r") {
            port.arriveIn(1, "OK\r\n");
        } else if (written.size() == static_cast<size_t>(BlockSize) && written[0] == static_cast<char>(Soh)) {
            uint8_t number = static_cast<uint8_t>(written[1]);
            if (number == static_cast<uint8_t>(expected - 1)) {
                // The repetition of a block already stored: acknowledged, right after the late ACK.
                port.arriveIn(LateAckMs - AckWaitMs + 1, "\x06");
                return;
            }
            if (number != expected) {
                port.arriveIn(AckTurnaroundMs, "\x15");
                return;
            }
            if (number == 3 && !threeRefused) {
                threeRefused = true;
                port.arriveIn(AckTurnaroundMs, "\x15");
                return;
            }
            received.insert(received.end(), written.begin() + 3, written.begin() + 3 + BlockDataSize);
            ++expected;
            if (number == 2 && ++transmissionsOfTwo == 1) {
                port.arriveIn(LateAckMs, "\x06");
            } else {
                port.arriveIn(AckTurnaroundMs, "\x06");
            }
        }
    };
    SerialPort port = openPort(TestPortName, DefaultSpeedCode);
    ASSERT_NE(port, NoPort);
    job().portHandle.store(port);
    job().identity.store(IdentityAti9Key | IdentityKernelMode);
    run();
    expectEndedClean(Succeeded);
    EXPECT_TRUE(threeRefused);
    EXPECT_EQ(received, image);
}

}  // namespace
