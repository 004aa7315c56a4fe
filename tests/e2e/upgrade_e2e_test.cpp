// `Tarvo32 upgrade` as a user runs it: a delivery folder with the executable, its INI and the
// firmware file, against modemsim on a pseudo-terminal under a throw-away host folder.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <csignal>
#include <string>
#include <thread>

#include "support/e2e_support.h"
#include "tools/modemsim/modem_model.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr const char* DeliveryIni =
    "[INFO]\r\n"
    "Model_name=Nelta 56K USB\r\n"
    "Firmware_file=nelta.bin\r\n"
    "ATI9_key_string=KOR\r\n"
    "ATI1_key_string=Nelta 56K\r\n";

std::string image(size_t size)
{
    return e2e::patternBytes(size, 12345);
}

std::string lastLine(const std::string& text)
{
    size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) {
        return "";
    }
    size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

long millisecondsSince(SteadyClock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

class UpgradeE2eTest : public ::testing::Test {
protected:
    e2e::Environment env() const { return {{"TARVO_HOST", host_.path()}}; }

    e2e::TempDir host_;
    e2e::Delivery delivery_{DeliveryIni};
};

TEST_F(UpgradeE2eTest, ImageArrivesByteForByte)
{
    const std::string firmware = image(40000);
    delivery_.addFile("nelta.bin", firmware);
    const std::string received = host_.file("received.bin");
    e2e::ModemSim modem(host_.path(), "COM3",
                        {"--image-out", received, "--image-size", std::to_string(firmware.size())});
    ASSERT_TRUE(modem.ready());

    e2e::RunResult result = e2e::run(delivery_.executable(), {"upgrade", "COM3"}, env());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(lastLine(result.out), "Succeeded");
    EXPECT_EQ(e2e::readFile(received), firmware);
    // Plain progress lines when stderr is not a terminal, ending at 100 %.
    EXPECT_NE(result.err.find("transferring"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("100% succeeded"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find('\r'), std::string::npos);
}

TEST_F(UpgradeE2eTest, ModemPulledOutMidTransferFailsSoon)
{
    delivery_.addFile("nelta.bin", image(100 * 128));
    e2e::ModemSim modem(host_.path(), "COM4", {"--pull-out-after", "20"});
    ASSERT_TRUE(modem.ready());

    e2e::RunResult result = e2e::run(delivery_.executable(), {"upgrade", "4"}, env(), 30000);
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(lastLine(result.out), "Failed");
    // The 3 s pause before the blocks, then a few seconds at most once the writes fail.
    EXPECT_LT(result.elapsedMs, 9000u);
    EXPECT_NE(result.err.find("COM4: the port was lost"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("kernel mode"), std::string::npos) << result.err;
}

// Ctrl-C during a transfer at the real line speed: the run ends through its normal end within a
// fraction of a second, fails, says why and what to do, and the port is free again. The modem
// gives up its upload mode and comes back in its boot loader (kernel mode), and the upgrade run
// again from there puts the image on it byte for byte.
TEST_F(UpgradeE2eTest, AnInterruptedUpgradeRunAgainSucceedsFromKernelMode)
{
    const uint32_t giveUpMs = 5000;  // above the 3 s the sender waits after the first NAK
    const std::string firmware = image(48 * 1024);
    delivery_.addFile("nelta.bin", firmware);
    const std::string received = host_.file("received.bin");
    e2e::ModemSim modem(host_.path(), "COM5",
                        {"--baud", "115200", "--give-up", std::to_string(giveUpMs), "--image-out", received,
                         "--image-size", std::to_string(firmware.size())});
    ASSERT_TRUE(modem.ready());

    e2e::Process upgrade(delivery_.executable(), {"upgrade", "COM5"}, env());
    ASSERT_TRUE(upgrade.started());
    auto start = SteadyClock::now();
    while (upgrade.err().find("transferring") == std::string::npos && millisecondsSince(start) < 15000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(upgrade.err().find("transferring"), std::string::npos) << upgrade.err();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));

    auto interrupted = SteadyClock::now();
    upgrade.signal(SIGINT);
    EXPECT_EQ(upgrade.wait(5000), 1);
    EXPECT_LT(millisecondsSince(interrupted), 1500);
    EXPECT_EQ(lastLine(upgrade.out()), "Failed");
    EXPECT_NE(upgrade.err().find("COM5: stopped by the user\nThe modem may be left without working firmware"),
              std::string::npos) << upgrade.err();

    std::this_thread::sleep_for(std::chrono::milliseconds(giveUpMs + 500));
    e2e::RunResult probe = e2e::run(delivery_.executable(), {"probe", "COM5"}, env());
    EXPECT_EQ(probe.out, "COM5 found kernel 0xC0000000\n") << probe.err;

    e2e::RunResult again = e2e::run(delivery_.executable(), {"upgrade", "COM5"}, env());
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(lastLine(again.out), "Succeeded");
    EXPECT_EQ(e2e::readFile(received), firmware);
    probe = e2e::run(delivery_.executable(), {"probe", "COM5"}, env());
    EXPECT_EQ(probe.out, "COM5 found normal 0x80000000\n") << probe.err;
}

TEST_F(UpgradeE2eTest, BadUsageNamesTheWord)
{
    struct Case {
        std::vector<std::string> args;
        const char* said;
    };
    const Case cases[] = {
        {{"upgrade"}, "upgrade needs a PORT"},
        {{"upgrade", "LPT1"}, "'LPT1' is not a port"},
        {{"upgrade", "3", "4"}, "unexpected argument '4'"},
        {{"--help", "me"}, "--help takes no arguments (got 'me')"},
        {{"--version", "x"}, "--version takes no arguments (got 'x')"},
        {{"config", "x"}, "config takes no arguments (got 'x')"},
        {{"probe", "--jsn"}, "unknown option '--jsn'"},
        {{"upgrad"}, "unknown command 'upgrad'"},
    };
    for (const Case& c : cases) {
        e2e::RunResult result = e2e::run(delivery_.executable(), c.args, env());
        EXPECT_EQ(result.status, 2) << c.said;
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("Usage: Tarvo32"), std::string::npos) << result.err;
    }
}

// A port with no entry fails at once with its reason, not after four probes 5 s apart.
TEST_F(UpgradeE2eTest, NoSuchPortFailsAtOnceSayingWhy)
{
    delivery_.addFile("nelta.bin", image(1000));
    e2e::RunResult result = e2e::run(delivery_.executable(), {"upgrade", "COM7"}, env());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(lastLine(result.out), "Failed");
    EXPECT_LT(result.elapsedMs, 2000u);
    EXPECT_NE(result.err.find("COM7: no such port (it has no entry)"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(host_.path() + "/ports"), std::string::npos) << result.err;
}

// Without Tarvo32.ini the firmware image defaults to the INI path itself: refused before the
// modem is switched to upload mode, with a warning and the reason.
TEST_F(UpgradeE2eTest, NoIniIsNeverUploadedAsFirmware)
{
    e2e::Delivery bare("");
    std::remove((bare.directory() + "/Tarvo32.ini").c_str());
    const std::string received = host_.file("received.bin");
    e2e::ModemSim modem(host_.path(), "COM3", {"--image-out", received});
    ASSERT_TRUE(modem.ready());
    e2e::RunResult result = e2e::run(bare.executable(), {"upgrade", "COM3"}, env());
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(lastLine(result.out), "Failed");
    EXPECT_NE(result.err.find("warning: no usable Tarvo32.ini"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Tarvo32.ini is the configuration file itself"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("kernel mode"), std::string::npos) << "the modem never left its firmware";
    EXPECT_EQ(e2e::readFile(received), "");
}

TEST_F(UpgradeE2eTest, RefusedBlockIsNamed)
{
    delivery_.addFile("nelta.bin", image(30 * 128));
    e2e::ModemSim modem(host_.path(), "COM3", {"--nak-block", "17=4"});
    ASSERT_TRUE(modem.ready());
    e2e::RunResult result = e2e::run(delivery_.executable(), {"upgrade", "COM3"}, env());
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("COM3: block 17 refused four times (NAK)\n"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Running the upgrade again starts from the modem's boot loader (kernel mode)"),
              std::string::npos) << result.err;
}

// Without a terminal each progress line of the transfer carries the speed and the time left, and
// the pause after the image is shown as the modem finishing, not as a transfer.
TEST_F(UpgradeE2eTest, FinishingIsNotShownAsTransferring)
{
    delivery_.addFile("nelta.bin", image(30000));
    e2e::ModemSim modem(host_.path(), "COM3", {"--baud", "115200"});
    ASSERT_TRUE(modem.ready());
    e2e::RunResult result = e2e::run(delivery_.executable(), {"upgrade", "COM3"}, env());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("99% the modem is finishing"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("99% transferring"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(" left\n"), std::string::npos) << result.err;
}

}  // namespace
