// A modem may send the end of an answer ("OK") a little after the line the probe was waiting
// for. That late end must not pass for the answer to the next command.
#include "link/modem_probe.h"

#include <gtest/gtest.h>

#include <string>

#include "config/firmware_config.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "support/scripted_port.h"

namespace {

using testing_support::ScriptedPort;

constexpr uint32_t TailDelayMs = 50;      // the answer's "OK" comes this long after its key line
constexpr uint32_t RefusalDelayMs = 200;  // the next command is refused this long after it

class AnswerTailTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = FirmwareConfig;
        FirmwareConfig.ATI9_key_string = "KOR";
        FirmwareConfig.ATI1_key_string = "Nelta 56K";
        FirmwareConfig.Firmware_check_version_VER = "1.10";
        FirmwareConfig.Firmware_check_version_LE = false;
    }
    void TearDown() override
    {
        FirmwareConfig = saved_;
        EXPECT_EQ(platform::openDeviceCount(), 0) << "a port was left open";
    }

    platform::ScopedVirtualClock clock_;
    testing_support::ScriptedPorts ports_;
    FirmwareConfigRecord saved_;
};

// The identification answer ends late; the command sent next ("AT&F") is refused. Whatever the
// dialogue, waitForOk on that command must see the refusal, not the late "OK".
TEST_F(AnswerTailTest, LateEndOfAnAnswerIsNotTakenForTheNextCommandsOk)
{
    struct Case {
        const char* name;
        std::string ati1Answer;
        bool (*dialogue)(SerialPort);
    };
    const Case cases[] = {
        {"product test", "\r\nNelta 56K USB Modem\r\n", [](SerialPort p) { return checkAti1Key(p); }},
        {"version gate", "\r\nNelta 56K USB Modem\r\nV 1.20\r\n", [](SerialPort p) { return checkFirmwareVersion(p); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPort& device = ports_.add("COM3");
        device.onWrite = [&](ScriptedPort& port, const std::string& written) {
            if (written == "ATI1\r") {
                port.arriveIn(1, c.ati1Answer);
                port.arriveIn(TailDelayMs, "\r\nOK\r\n");
            } else if (written == "AT&F\r") {
                port.arriveIn(RefusalDelayMs, "\r\nERROR\r\n");
            }
        };
        SerialPort port = openPort("COM3", DefaultSpeedCode);
        ASSERT_NE(port, NoPort);
        EXPECT_TRUE(c.dialogue(port));
        purgePort(port);
        writeText(port, "AT&F\r");
        EXPECT_FALSE(waitForOk(port));
        closePort(port);
    }
}

// An ATI9 answer whose key line comes inside the 200 ms window but whose "OK" comes after it:
// the product test that follows must judge the ATI1 answer, not that "OK".
TEST_F(AnswerTailTest, Ati9AnswerEndingAfterItsWindowDoesNotEndTheProductTest)
{
    ScriptedPort& device = ports_.add("COM3");
    device.onWrite = [](ScriptedPort& port, const std::string& written) {
        if (written == "ATE1Q0V1\r") {
            port.arriveIn(1, "\r\nOK\r\n");
        } else if (written == "ATI9\r") {
            port.arriveIn(150, "\r\nNelta KOR\r\n");
            port.arriveIn(260, "\r\nOK\r\n");
        } else if (written == "ATI1\r") {
            port.arriveIn(20, "\r\nNelta 56K USB Modem\r\n\r\nOK\r\n");
        }
    };
    ModemIdentity identity;
    resetIdentity(identity);
    identity.portName = "COM3";
    identity.speedCode = DefaultSpeedCode;
    SerialPort port = probePort(identity);
    ASSERT_NE(port, NoPort);
    EXPECT_EQ(identity.flags, IdentityAti9Key);
    closePort(port);
}

// The wait for the rest of an answer is bounded by the dialogue's window: a modem that never
// ends its answer still passes, at the window's end.
TEST_F(AnswerTailTest, AnswerThatNeverEndsCostsAtMostTheWindow)
{
    ScriptedPort& device = ports_.add("COM3");
    device.onWrite = [](ScriptedPort& port, const std::string& written) {
        if (written == "ATI1\r") {
            port.arriveIn(10, "\r\nNelta 56K USB Modem\r\n");
        }
    };
    SerialPort port = openPort("COM3", DefaultSpeedCode);
    ASSERT_NE(port, NoPort);
    platform::Ticks start = platform::tickCount();
    EXPECT_TRUE(checkAti1Key(port));
    EXPECT_LE(platform::elapsedSince(start), Ati1WindowMs);
    closePort(port);
}

}  // namespace
