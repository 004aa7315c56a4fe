// The link's line reader and AT routines against a scripted port on the virtual clock: exact
// time-outs, what each call consumes, and what it leaves in the input.
#include <gtest/gtest.h>

#include <string>

#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "support/scripted_port.h"

using testing_support::ScriptedPort;
using testing_support::ScriptedPorts;

namespace {

class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        port = openPort("COM3", DefaultSpeedCode);
        ASSERT_NE(port, NoPort);
    }
    void TearDown() override
    {
        if (port != NoPort) {
            closePort(port);
        }
        EXPECT_EQ(platform::openDeviceCount(), 0);
    }
    uint32_t now() { return platform::tickCount(); }

    platform::ScopedVirtualClock clock{1000};
    ScriptedPorts ports;
    ScriptedPort& modem = ports.add("COM3");
    SerialPort port = NoPort;
};

int lineOf(SerialPort port, std::string& text, int capacity = 100, uint32_t charTimeoutMs = LineCharTimeoutMs)
{
    char buffer[1024];
    int r = readLine(port, buffer, capacity, charTimeoutMs);
    text = buffer;
    return r;
}

TEST_F(SerialLinkTest, CrLfOkCrLfGivesNothingNothingOkNothing)
{
    modem.arriveIn(0, "\r\nOK\r\n");
    std::string text;
    EXPECT_EQ(lineOf(port, text), 0);
    EXPECT_EQ(lineOf(port, text), 0);
    EXPECT_EQ(lineOf(port, text), 1);
    EXPECT_EQ(text, "OK");
    EXPECT_EQ(lineOf(port, text), 0);  // the LF after the CR stayed in the input
    EXPECT_EQ(modem.pendingBytes(), 0u);
}

TEST_F(SerialLinkTest, LineReaderEdgeCases)
{
    std::string text;
    // Nothing waiting: no line, at once.
    uint32_t start = now();
    EXPECT_EQ(lineOf(port, text), 0);
    EXPECT_EQ(now(), start);

    // Capacity of 4 or less takes nothing.
    modem.arriveIn(0, "AB\r");
    EXPECT_EQ(lineOf(port, text, 4), 0);
    EXPECT_EQ(modem.pendingBytes(), 3u);
    modem.purge();

    // A line longer than capacity - 1: the first capacity - 1 bytes, the next byte lost.
    modem.arriveIn(0, "ABCDEFGHIJKLMN\r");
    EXPECT_EQ(lineOf(port, text, 10), 1);
    EXPECT_EQ(text, "ABCDEFGHI");
    EXPECT_EQ(lineOf(port, text, 10), 1);
    EXPECT_EQ(text, "KLMN");

    // An LF inside a line ends it and is consumed.
    modem.arriveIn(0, "ONE\nTWO\r");
    EXPECT_EQ(lineOf(port, text), 1);
    EXPECT_EQ(text, "ONE");
    EXPECT_EQ(lineOf(port, text), 1);
    EXPECT_EQ(text, "TWO");
}

TEST_F(SerialLinkTest, DleCodes)
{
    std::string text;
    modem.arriveIn(0, "\x10h");
    EXPECT_EQ(lineOf(port, text), 1);
    EXPECT_EQ(text, "\x10h");
    modem.arriveIn(0, "\x10H");
    EXPECT_EQ(lineOf(port, text), 1);
    EXPECT_EQ(text, "\x10H");
    modem.arriveIn(0, "\x10xOK\r");
    EXPECT_EQ(lineOf(port, text), 1);
    EXPECT_EQ(text, "");  // the x is consumed
    EXPECT_EQ(lineOf(port, text), 1);
    EXPECT_EQ(text, "OK");
    modem.arriveIn(0, "\x10");
    EXPECT_EQ(lineOf(port, text), 1);  // DLE alone: an empty line
    EXPECT_EQ(text, "");
}

TEST_F(SerialLinkTest, UnterminatedLineEndsAfterInterCharacterTimeout)
{
    std::string text;
    modem.arriveIn(0, "ABC", 500);  // A now, B at +500, C at +1000
    uint32_t start = now();
    EXPECT_EQ(lineOf(port, text), 1);
    EXPECT_EQ(text, "ABC");
    EXPECT_EQ(now() - start, 1000u + LineCharTimeoutMs);

    modem.arriveIn(0, "ATF");
    start = now();
    EXPECT_EQ(lineOf(port, text, 100, AtfCharTimeoutMs), 1);
    EXPECT_EQ(now() - start, AtfCharTimeoutMs);
}

TEST_F(SerialLinkTest, WaitForOkJudgesLinesAsReceived)
{
    struct Case {
        const char* answer;
        bool expected;
    };
    const Case cases[] = {
        {"ATE1\r\r\nOK\r\n", true},
        {"BOOK\r\n", true},          // OK inside a word counts
        {"OK ERROR\r\n", true},      // OK is looked for first
        {"ERROR\r\n", false},
        {"ok\r\n", false},           // case-sensitive; then silence until the time-out
        {"NO CARRIER\r\nOK\r", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        modem.arriveIn(0, c.answer);
        EXPECT_EQ(waitForOk(port), c.expected);
        purgePort(port);
    }
}

TEST_F(SerialLinkTest, WaitForOkRunsOutAfterFiveSecondsButFinishesALineFirst)
{
    uint32_t start = now();
    EXPECT_FALSE(waitForOk(port));
    EXPECT_EQ(now() - start, WaitForOkMs);

    // A line that starts before the 5 s are up and ends after them is still judged.
    start = now();
    modem.arriveIn(4900, "O");
    modem.arriveIn(6500, "K\r");
    EXPECT_TRUE(waitForOk(port));
    EXPECT_EQ(now() - start, 6500u);
}

// A modem that drips one byte just inside every character time-out, never ending its line: a
// wait still ends one character time-out after its window, the dripping line not received.
TEST_F(SerialLinkTest, ADrippingLineHoldsAWaitOneCharacterTimeOutAtMost)
{
    const uint32_t dripMs = 2900;
    modem.arriveIn(100, std::string(2000, 'x'), dripMs);
    uint32_t start = now();
    EXPECT_FALSE(waitForOk(port));
    EXPECT_LE(now() - start, WaitForOkMs + LineFinishMs);
    start = now();
    drainInput(port);
    EXPECT_LE(now() - start, DrainInputMs + LineFinishMs);
    start = now();
    EXPECT_FALSE(pingModem(port, 16000));
    EXPECT_LE(now() - start, 16000 + WaitForOkMs + LineFinishMs);
}

TEST_F(SerialLinkTest, ALineEndingWithinTheExtraCharacterTimeOutIsTaken)
{
    uint32_t start = now();
    modem.arriveIn(4500, "xO", 1500);
    modem.arriveIn(7500, "K\r");
    EXPECT_TRUE(waitForOk(port));
    EXPECT_EQ(now() - start, 7500u);
}

TEST_F(SerialLinkTest, DrainInputDiscardsForThreeSeconds)
{
    modem.arriveIn(0, "RING\r\n");
    modem.arriveIn(2000, "RING\r\n");
    uint32_t start = now();
    drainInput(port);
    EXPECT_EQ(now() - start, DrainInputMs);
    EXPECT_EQ(modem.pendingBytes(), 0u);
    start = now();
    drainInput(NoPort);
    EXPECT_EQ(now(), start);
}

TEST_F(SerialLinkTest, PingWithNothingAttachedTriesThreeTimesAndGivesUpAtEighteenSeconds)
{
    uint32_t start = now();
    EXPECT_FALSE(pingModem(port, 16000));
    EXPECT_EQ(now() - start, 18000u);
    auto writes = modem.writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].bytes, "AT\r");
    EXPECT_EQ(writes[0].writeTick - start, 0u);
    EXPECT_EQ(writes[1].writeTick - start, 6000u);
    EXPECT_EQ(writes[2].writeTick - start, 12000u);
}

TEST_F(SerialLinkTest, PingAnsweredOnTheSecondAttempt)
{
    int attempts = 0;
    modem.onWrite = [&](ScriptedPort& p, const std::string& w) {
        if (w == "AT\r" && ++attempts == 2) {
            p.arriveIn(100, "AT\r\r\nOK\r\n");
        }
    };
    uint32_t start = now();
    EXPECT_TRUE(pingModem(port, 16000));
    EXPECT_EQ(now() - start, 6100u);
    EXPECT_EQ(attempts, 2);
}

TEST_F(SerialLinkTest, StopRequestEndsWaitsEarly)
{
    std::atomic<int32_t> keepRunning{1};
    ScopedWaitAbort abort(keepRunning);
    modem.onWrite = [&](ScriptedPort&, const std::string&) { keepRunning = 0; };
    uint32_t start = now();
    EXPECT_FALSE(pingModem(port, 16000));
    EXPECT_LE(now() - start, WaitAbortSliceMs);
}

TEST(SerialLink, SpeedCodes)
{
    EXPECT_EQ(baudForSpeedCode(102), 115200u);
    EXPECT_EQ(baudForSpeedCode(103), 57600u);
    EXPECT_EQ(baudForSpeedCode(104), 38400u);
    EXPECT_EQ(baudForSpeedCode(105), 19200u);
    EXPECT_EQ(baudForSpeedCode(106), 9600u);
    EXPECT_EQ(baudForSpeedCode(0), 115200u);
    EXPECT_EQ(baudForSpeedCode(115200), 115200u);
}

TEST(SerialLink, OpenCloseAndMissingPorts)
{
    ScriptedPorts ports;
    ScriptedPort& modem = ports.add("COM2");
    EXPECT_EQ(openPort("COM4", DefaultSpeedCode), NoPort);
    SerialPort port = openPort("COM2", 105);
    ASSERT_NE(port, NoPort);
    EXPECT_EQ(ports.lastBaud(), 19200u);
    EXPECT_EQ(openPort("COM2", DefaultSpeedCode), NoPort);  // not shared
    closePort(port);
    EXPECT_EQ(modem.dtrDrops(), 1);
    EXPECT_FALSE(modem.isOpen());
    // Operations on a closed handle fail without touching anything.
    uint8_t byte;
    EXPECT_EQ(readBytes(port, &byte, 1), -1);
    EXPECT_EQ(writeBytes(port, "AT\r", 3), -1);
}

}  // namespace
