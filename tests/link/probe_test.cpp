#include "link/modem_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "config/firmware_config.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "tools/modemsim/simulated_ports.h"

namespace {

using modemsim::ModemSettings;

bool sent(const std::vector<std::string>& commands, const std::string& command)
{
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = FirmwareConfig;
        FirmwareConfig.ATI9_key_string = "kor";
        FirmwareConfig.ATI1_key_string = "Nelta 56K";
    }
    void TearDown() override
    {
        FirmwareConfig = saved_;
        EXPECT_EQ(platform::openDeviceCount(), 0) << "a port was left open";
    }

    // A port already in the state the probe leaves it in: open, modem echoing.
    SerialPort openEchoing(ModemSettings settings)
    {
        settings.echo = true;
        modem_ = &ports_.add("COM2", settings);
        SerialPort port = openPort("COM2", DefaultSpeedCode);
        EXPECT_NE(port, NoPort);
        return port;
    }

    platform::ScopedVirtualClock clock_;
    modemsim::SimulatedPorts ports_;
    modemsim::SimulatedModem* modem_ = nullptr;
    FirmwareConfigRecord saved_;
};

struct IdentifyCase {
    const char* name;
    std::function<void(ModemSettings&)> setUp;
    const char* ati9Key;
    const char* ati1Key;
    uint32_t flags;  // 0: not found
    bool ati1Sent;
};

TEST_F(ProbeTest, Identification)
{
    const IdentifyCase cases[] = {
        {"normal modem", [](ModemSettings&) {}, "KOR", "NELTA 56K", IdentityAti9Key, true},
        {"keys matched case-insensitively", [](ModemSettings& s) { s.ati1Lines = {"nelta 56k usb"}; }, "Kor", "Nelta 56K", IdentityAti9Key, true},
        {"empty keys match the echoes", [](ModemSettings& s) { s.ati9Lines = {"X"}; s.ati1Lines = {"Y"}; }, "", "", IdentityAti9Key, true},
        {"kernel mode skips ATI1", [](ModemSettings& s) { s.kernelMode = true; }, "KOR", "NELTA 56K", IdentityAti9Key | IdentityKernelMode, false},
        {"kernel in the ATI1 answer", [](ModemSettings& s) { s.ati1Lines = {"KERNEL", "Nelta 56K USB"}; }, "KOR", "NELTA 56K", 0, true},
        {"other product", [](ModemSettings& s) { s.ati1Lines = {"Other 33K"}; }, "KOR", "NELTA 56K", 0, true},
        {"no ATI9 key", [](ModemSettings& s) { s.ati9Lines = {"33600"}; }, "KOR", "NELTA 56K", 0, false},
        {"ATI9 answer at 199 ms", [](ModemSettings& s) { s.answerDelayMsFor["ATI9"] = 199; }, "KOR", "NELTA 56K", IdentityAti9Key, true},
        {"ATI9 answer at 200 ms", [](ModemSettings& s) { s.answerDelayMsFor["ATI9"] = 200; }, "KOR", "NELTA 56K", 0, false},
        {"ATI9 answer at 250 ms", [](ModemSettings& s) { s.answerDelayMsFor["ATI9"] = 250; }, "KOR", "NELTA 56K", 0, false},
    };
    for (const IdentifyCase& c : cases) {
        SCOPED_TRACE(c.name);
        ModemSettings settings;
        c.setUp(settings);
        modemsim::SimulatedModem& modem = ports_.add("COM3", settings);
        FirmwareConfig.ATI9_key_string = c.ati9Key;
        FirmwareConfig.ATI1_key_string = c.ati1Key;

        ModemIdentity identity;
        resetIdentity(identity);
        identity.portName = "COM3";
        identity.speedCode = DefaultSpeedCode;
        SerialPort port = probePort(identity);

        EXPECT_EQ(identity.flags, c.flags);
        EXPECT_EQ(sent(modem.commands(), "ATI1"), c.ati1Sent);
        if (c.flags != 0) {
            EXPECT_NE(port, NoPort);
            EXPECT_EQ(identity.portHandle, port);
            EXPECT_EQ(identity.portName, "COM3");
            EXPECT_TRUE(modem.isOpen());
            closePort(port);
        } else {
            EXPECT_EQ(port, NoPort);
            EXPECT_EQ(identity.portHandle, NoPort);
            EXPECT_EQ(identity.portName, "");
            EXPECT_FALSE(modem.isOpen());
            EXPECT_EQ(modem.dtrDrops(), 1);
        }
    }
}

TEST_F(ProbeTest, SilenceCostsTheOkWaitAndTheAti9WindowAMissingPortNothing)
{
    ModemSettings silent;
    silent.silent = true;
    ports_.add("COM4", silent);

    ModemIdentity identity;
    resetIdentity(identity);
    EXPECT_EQ(identity.speedCode, 115200);
    identity.portName = "COM4";
    platform::Ticks start = platform::tickCount();
    EXPECT_EQ(probePort(identity), NoPort);
    EXPECT_EQ(platform::elapsedSince(start), WaitForOkMs + Ati9WindowMs);
    EXPECT_EQ(ports_.find("COM4")->lastBaud(), 115200u);

    identity.portName = "COM5";
    start = platform::tickCount();
    EXPECT_EQ(probePort(identity), NoPort);
    EXPECT_EQ(platform::elapsedSince(start), 0u);
    EXPECT_EQ(identity.portName, "");
}

struct VersionCase {
    const char* name;
    std::vector<std::string> ati1Lines;
    const char* reference;
    bool lessOrEqual;
    bool passes;
};

TEST_F(ProbeTest, FirmwareVersionGate)
{
    const VersionCase cases[] = {
        {"1.05 above 0.00", {"Nelta 56K USB", "V 1.05"}, "0.00", false, true},
        {"1.05 not at or below 0.00", {"V 1.05"}, "0.00", true, false},
        {"1.10 sorts before 1.9", {"V 1.10"}, "1.9", false, false},
        {"1.10 at or below 1.9", {"V 1.10"}, "1.9", true, true},
        {"1.9 sorts after 1.10", {"V 1.9"}, "1.10", false, true},
        {"1.9 not at or below 1.10", {"V 1.9"}, "1.10", true, false},
        {"equal passes at or below, case-insensitively", {"  Firmware v1.05b build 7  "}, "V1.05B", true, true},
        {"no blank before the dot", {"1.05", "V 2.00"}, "0.00", false, false},
        {"no dot at all", {"Nelta 56K USB"}, "0.00", false, false},
        {"a later line may pass", {"V 0.50", "Boot 2.00"}, "1.00", false, true},
        {"kernel ends the check", {"KERNEL", "V 2.00"}, "1.00", false, false},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.name);
        ModemSettings settings;
        settings.ati1Lines = c.ati1Lines;
        SerialPort port = openEchoing(settings);
        FirmwareConfig.Firmware_check_version_VER = c.reference;
        FirmwareConfig.Firmware_check_version_LE = c.lessOrEqual;
        EXPECT_EQ(checkFirmwareVersion(port), c.passes);
        closePort(port);
    }
    EXPECT_FALSE(checkFirmwareVersion(NoPort));
}

TEST_F(ProbeTest, VersionGateDrainsFirstAndTimesOutOnSilence)
{
    ModemSettings settings;
    settings.silent = true;
    SerialPort port = openEchoing(settings);
    FirmwareConfig.Firmware_check_version_VER = "0.00";
    platform::Ticks start = platform::tickCount();
    EXPECT_FALSE(checkFirmwareVersion(port));
    EXPECT_EQ(platform::elapsedSince(start), DrainInputMs + VersionWindowMs);
    closePort(port);
}

TEST_F(ProbeTest, Ati1FollowUp)
{
    {
        SCOPED_TRACE("RK420 is sent ATF");
        ModemSettings settings;
        settings.ati1Lines = {"RK420 ISDN TA"};
        SerialPort port = openEchoing(settings);
        EXPECT_EQ(ati1FollowUp(port, IdentityAti9Key), IdentityAti9Key);
        EXPECT_EQ(modem_->commands(), (std::vector<std::string>{"ATI1", "ATF"}));
        closePort(port);
    }
    {
        SCOPED_TRACE("KERNEL in the answer adds kernel mode");
        ModemSettings settings;
        settings.ati1Lines = {"Nelta 56K USB", "kernel"};
        SerialPort port = openEchoing(settings);
        EXPECT_EQ(ati1FollowUp(port, IdentityAti9Key), IdentityAti9Key | IdentityKernelMode);
        EXPECT_EQ(modem_->commands(), (std::vector<std::string>{"ATI1"}));
        closePort(port);
    }
    {
        SCOPED_TRACE("a silent modem costs the window and gets no ATF");
        ModemSettings settings;
        settings.silent = true;
        SerialPort port = openEchoing(settings);
        platform::Ticks start = platform::tickCount();
        EXPECT_EQ(ati1FollowUp(port, IdentityAti9Key), IdentityAti9Key);
        EXPECT_EQ(platform::elapsedSince(start), Ati1FollowUpWindowMs);
        closePort(port);
    }
}

struct KernelFollowUpCase {
    const char* name;
    std::vector<std::string> atvLines;
    std::vector<std::string> ati1Lines;
    bool ati1Sent;
    uint32_t elapsedMs;
};

TEST_F(ProbeTest, KernelFollowUp)
{
    const KernelFollowUpCase cases[] = {
        {"plain modem", {"56K MODEM"}, {}, false, 0},
        {"RK410", {"RK410"}, {}, false, 0},
        {"terminal adapter", {"Arven-TA 128"}, {"Arven.net LCD"}, true, 0},
        {"terminal adapter without its answer", {"ARVEN-TA 128"}, {"ARVEN.NET"}, true, KernelFollowUpWindowMs},
    };
    for (const KernelFollowUpCase& c : cases) {
        SCOPED_TRACE(c.name);
        ModemSettings settings;
        settings.kernelMode = true;
        settings.atvLines = c.atvLines;
        settings.kernelAti1Lines = c.ati1Lines;
        SerialPort port = openEchoing(settings);
        platform::Ticks start = platform::tickCount();
        EXPECT_EQ(kernelFollowUp(port, IdentityAti9Key | IdentityKernelMode), IdentityAti9Key | IdentityKernelMode);
        EXPECT_EQ(platform::elapsedSince(start), c.elapsedMs);
        EXPECT_EQ(sent(modem_->commands(), "ATI1"), c.ati1Sent);
        closePort(port);
    }
    for (const char* answer : {"2.03B", "ARVEN.NET-4M", "ARVEN.NET INTERNAL-4M", "ARVEN.NET DATA", "arven.net data internal"}) {
        SCOPED_TRACE(answer);
        ModemSettings settings;
        settings.kernelMode = true;
        settings.atvLines = {"ARVEN.NET"};
        settings.kernelAti1Lines = {answer};
        SerialPort port = openEchoing(settings);
        platform::Ticks start = platform::tickCount();
        kernelFollowUp(port, IdentityAti9Key | IdentityKernelMode);
        EXPECT_EQ(platform::elapsedSince(start), 0u);
        EXPECT_TRUE(sent(modem_->commands(), "ATI1"));
        closePort(port);
    }
}

}  // namespace
