// `Tarvo32 upgrade` as a user runs it: a delivery folder with the executable, its INI and the
// firmware file, against modemsim on a pseudo-terminal under a throw-away host folder.
#include <gtest/gtest.h>

#include <chrono>
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
}

// Ctrl-C during a transfer at the real line speed: the run ends through its normal end within a
// fraction of a second, fails, and the port is free again for the next program.
TEST_F(UpgradeE2eTest, InterruptEndsTheRunAndReleasesThePort)
{
    delivery_.addFile("nelta.bin", image(256 * 1024));
    e2e::ModemSim modem(host_.path(), "COM5", {"--baud", "115200"});
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

    // The modem gives up its upload mode after its idle time, and then answers a new program on
    // the same port: the interrupted run did not keep the port.
    std::this_thread::sleep_for(std::chrono::milliseconds(modemsim::ReceiverIdleMs + 500));
    e2e::RunResult probe = e2e::run(delivery_.executable(), {"probe", "COM5"}, env());
    EXPECT_EQ(probe.out, "COM5 found normal 0x80000000\n") << probe.err;
}

TEST_F(UpgradeE2eTest, BadUsage)
{
    for (const auto& args : {std::vector<std::string>{"upgrade"}, {"upgrade", "LPT1"}, {"upgrade", "3", "4"}}) {
        e2e::RunResult result = e2e::run(delivery_.executable(), args, env());
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(UpgradeE2eTest, NoModemOnThePortFails)
{
    delivery_.addFile("nelta.bin", image(1000));
    e2e::RunResult result = e2e::run(delivery_.executable(), {"upgrade", "COM7"}, env());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(lastLine(result.out), "Failed");
}

}  // namespace
