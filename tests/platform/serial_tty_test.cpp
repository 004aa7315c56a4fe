// The tty stand-in for COM ports on a real pseudo-terminal linked below a temporary host folder.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "support/scratch.h"

namespace {

class TtyPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        std::string slave = ptsname(master);
        ASSERT_EQ(symlink(slave.c_str(), host.portEntry("com3").c_str()), 0);
        // Keep the slave side alive between our opens, as a real port stays present.
        keeper = open(slave.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(keeper, 0);
    }
    void TearDown() override
    {
        close(keeper);
        close(master);
    }
    std::string readMaster(size_t want)
    {
        std::string got;
        while (got.size() < want) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0) {
                break;
            }
            char buf[256];
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }

    scratch::ScratchHost host;
    int master = -1;
    int keeper = -1;
};

TEST_F(TtyPortTest, OpenIsExclusiveAndRawAndReadsNeverBlock)
{
    SerialPort port = openPort("COM3", DefaultSpeedCode);
    ASSERT_NE(port, NoPort);
    EXPECT_EQ(openPort("COM3", DefaultSpeedCode), NoPort);  // a second open fails, root included

    uint8_t buf[16];
    platform::Ticks start = platform::tickCount();
    EXPECT_EQ(readBytes(port, buf, sizeof buf), 0);
    EXPECT_LT(platform::elapsedSince(start), 50u);

    // Raw: CR and LF pass untranslated both ways.
    writeText(port, "AT\r\n");
    EXPECT_EQ(readMaster(4), "AT\r\n");
    ASSERT_EQ(write(master, "\r\nOK\r\n", 6), 6);
    ASSERT_TRUE(waitForInput(port, 1000));
    char line[100];
    EXPECT_EQ(readLine(port, line, sizeof line, 3000), 0);
    EXPECT_EQ(readLine(port, line, sizeof line, 3000), 0);
    EXPECT_EQ(readLine(port, line, sizeof line, 3000), 1);
    EXPECT_STREQ(line, "OK");

    // Purge discards what has arrived and not been read.
    ASSERT_EQ(write(master, "STALE", 5), 5);
    ASSERT_TRUE(waitForInput(port, 1000));
    usleep(20000);
    purgePort(port);
    EXPECT_EQ(readBytes(port, buf, sizeof buf), 0);

    closePort(port);
    // After close the port opens again (the exclusive flag was cleared).
    port = openPort("COM3", DefaultSpeedCode);
    ASSERT_NE(port, NoPort);
    closePort(port);
    EXPECT_EQ(platform::openDeviceCount(), 0);
}

// Read system calls of this process so far (the kernel's count).
long readCalls()
{
    std::ifstream io("/proc/self/io");
    std::string name;
    long value = 0;
    while (io >> name >> value) {
        if (name == "syscr:") {
            return value;
        }
    }
    return -1;
}

TEST_F(TtyPortTest, ReadsAreServedFromABufferThatAPurgeEmpties)
{
    SerialPort port = openPort("COM3", DefaultSpeedCode);
    ASSERT_NE(port, NoPort);
    const std::string flood(2000, 'x');
    ASSERT_EQ(write(master, flood.data(), flood.size()), static_cast<ssize_t>(flood.size()));
    usleep(50000);
    long callsBefore = readCalls();
    std::string got;
    uint8_t byte = 0;
    while (got.size() < flood.size() && waitForInput(port, 1000)) {
        while (readBytes(port, &byte, 1) == 1) {
            got += static_cast<char>(byte);
        }
    }
    EXPECT_EQ(got, flood);
    EXPECT_LT(readCalls() - callsBefore, 40);  // not one call per byte

    // What the buffer holds is thrown away with the device's input.
    ASSERT_EQ(write(master, "STALE\r\n", 7), 7);
    ASSERT_TRUE(waitForInput(port, 1000));
    usleep(20000);
    ASSERT_EQ(readBytes(port, &byte, 1), 1);
    purgePort(port);
    EXPECT_EQ(readBytes(port, &byte, 1), 0);
    closePort(port);
}

TEST_F(TtyPortTest, WaitBlocksForTheTimeOutWithoutSpinning)
{
    SerialPort port = openPort("COM3", DefaultSpeedCode);
    ASSERT_NE(port, NoPort);
    clock_t cpuBefore = clock();
    platform::Ticks start = platform::tickCount();
    EXPECT_FALSE(waitForOk(port));  // nothing answers
    uint32_t elapsed = platform::elapsedSince(start);
    EXPECT_GE(elapsed, WaitForOkMs);
    EXPECT_LT(elapsed, WaitForOkMs + 500);
    double cpuMs = 1000.0 * static_cast<double>(clock() - cpuBefore) / CLOCKS_PER_SEC;
    EXPECT_LT(cpuMs, 100.0);
    closePort(port);
}

TEST_F(TtyPortTest, PortsWithoutAnEntryDoNotExist)
{
    for (const char* name : {"COM4", "COM0", "LPT1", "COM", "COM3x", ""}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(openPort(name, DefaultSpeedCode), NoPort);
    }
    // An entry that is not a terminal is not a port either.
    std::string plain = host.portEntry("com5");
    int fd = open(plain.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(openPort("COM5", DefaultSpeedCode), NoPort);
    unlink(plain.c_str());
}

TEST_F(TtyPortTest, DeviceGoneEndsWaitsLikeFailedReads)
{
    SerialPort port = openPort("COM3", DefaultSpeedCode);
    ASSERT_NE(port, NoPort);
    close(keeper);
    keeper = -1;
    close(master);  // the modem is pulled out
    master = -1;
    char line[100];
    platform::Ticks start = platform::tickCount();
    clock_t cpuBefore = clock();
    EXPECT_EQ(readLine(port, line, sizeof line, 3000), 0);
    EXPECT_FALSE(waitForOk(port));
    EXPECT_GE(platform::elapsedSince(start), WaitForOkMs);
    // The wait ran out its time without spinning on the hung-up line.
    EXPECT_LT(1000.0 * static_cast<double>(clock() - cpuBefore) / CLOCKS_PER_SEC, 100.0);
    EXPECT_EQ(writeBytes(port, "AT\r", 3), -1);
    closePort(port);
    keeper = open("/dev/null", O_RDONLY);
    master = open("/dev/null", O_RDONLY);
}

}  // namespace
