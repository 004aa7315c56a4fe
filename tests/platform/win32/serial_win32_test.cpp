// COM ports through the real Win32 calls. The port names that are no port never reach Windows;
// the tests with a modem need one on a COM port of the test machine, named by TARVO_TEST_PORT
// (scripts/run-win32-tests.sh puts modemsim on a pseudo-terminal linked as that port of its Wine
// prefix), and are skipped without it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/serial_device.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr const char* TestPortVariable = "TARVO_TEST_PORT";
constexpr uint32_t AnswerWaitMs = 2000;
constexpr uint32_t SilenceWaitMs = 300;
constexpr uint32_t SettleMs = 300;
constexpr long WaitSlackMs = 250;  // scheduling under Wine on a shared machine

std::string testPort()
{
    const char* port = std::getenv(TestPortVariable);
    return port ? std::string(port) : std::string();
}

long millisecondsSince(SteadyClock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count());
}

// Reads what arrives within the wait until the text holds `until` or the port falls silent.
std::string answer(platform::PortDevice& port, const std::string& until)
{
    std::string text;
    while (text.find(until) == std::string::npos && port.waitReadable(AnswerWaitMs)) {
        uint8_t buffer[64];
        int n = port.read(buffer, sizeof buffer);
        if (n < 0) {
            break;
        }
        text.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
    return text;
}

TEST(SerialWin32, NamesThatAreNoPortOpenNothing)
{
    for (const char* name : {"", "COM", "COM0", "COM256", "COM03", "LPT1", "COM3:", "NUL"}) {
        EXPECT_EQ(platform::openSystemPort(name, 115200), nullptr) << name;
    }
}

class SerialWin32Modem : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (port_.empty()) {
            GTEST_SKIP() << TestPortVariable << " names no simulated modem";
        }
    }
    std::string port_ = testPort();
};

// A port that opens is there, whether or not Windows has a DOS device name for it (Wine's
// dosdevices links may have none; the 9x family has none at all): the commands that open a port
// (probe) and those that ask first (upgrade) agree.
TEST_F(SerialWin32Modem, APortThatOpensIsThere)
{
    ASSERT_NE(platform::openSystemPort(port_, 115200), nullptr);
    EXPECT_TRUE(platform::systemPortExists(port_));
}

TEST_F(SerialWin32Modem, WaitEndsWithTheAnswerAndReadsTakeItAll)
{
    auto port = platform::openSystemPort(port_, 115200);
    ASSERT_NE(port, nullptr);
    port->purge();
    const std::string command = "AT\r";
    ASSERT_EQ(port->write(reinterpret_cast<const uint8_t*>(command.data()), static_cast<int>(command.size())),
              static_cast<int>(command.size()));
    EXPECT_NE(answer(*port, "OK").find("OK"), std::string::npos);
    // Nothing more is waiting: a read returns at once with nothing.
    uint8_t byte = 0;
    auto start = SteadyClock::now();
    EXPECT_EQ(port->read(&byte, 1), 0);
    EXPECT_LT(millisecondsSince(start), WaitSlackMs);
}

TEST_F(SerialWin32Modem, WaitOnSilenceRunsItsTimeAndNoLonger)
{
    auto port = platform::openSystemPort(port_, 115200);
    ASSERT_NE(port, nullptr);
    port->purge();
    auto start = SteadyClock::now();
    EXPECT_FALSE(port->waitReadable(SilenceWaitMs));
    long spent = millisecondsSince(start);
    EXPECT_GE(spent, static_cast<long>(SilenceWaitMs) - 20);
    EXPECT_LT(spent, static_cast<long>(SilenceWaitMs) + WaitSlackMs);
}

TEST_F(SerialWin32Modem, PurgeDropsAnAnswerAWaitHasTakenIn)
{
    auto port = platform::openSystemPort(port_, 115200);
    ASSERT_NE(port, nullptr);
    port->purge();
    const std::string command = "AT\r";
    port->write(reinterpret_cast<const uint8_t*>(command.data()), static_cast<int>(command.size()));
    // The whole answer arrives; the wait takes it in, the purge must drop it all the same.
    platform::sleepMs(SettleMs);
    ASSERT_TRUE(port->waitReadable(AnswerWaitMs));
    port->purge();
    uint8_t buffer[64];
    EXPECT_EQ(port->read(buffer, sizeof buffer), 0);
    EXPECT_FALSE(port->waitReadable(SilenceWaitMs));
}

// The AT routines of the link on the real port: a close lowers DTR, which a pseudo-terminal
// refuses; the close is still a close, and the port opens again at once.
TEST_F(SerialWin32Modem, LinkPingsAndClosesDespiteRefusedDtr)
{
    for (int round = 0; round < 2; ++round) {
        SerialPort link = openPort(port_, DefaultSpeedCode);
        ASSERT_NE(link, NoPort) << "round " << round;
        EXPECT_TRUE(pingModem(link, AnswerWaitMs));
        closePort(link);
    }
    EXPECT_EQ(platform::openDeviceCount(), 0);
}

}  // namespace
