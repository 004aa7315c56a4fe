// usbsim as a program: plugging writes what USB port discovery reads and announces the modem on
// the notification socket; pulling takes the port away under an open handle.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <unistd.h>

#include "config/firmware_config.h"
#include "link/serial_link.h"
#include "production/usb_port_discovery.h"
#include "support/e2e_support.h"
#include "support/scratch.h"
#include "support/usbsim_support.h"
#include "upload/upload_job.h"

namespace {

constexpr uint32_t PullSeenLimitMs = 1000;
const std::string DudeClass = "{5C0A19E3-7D42-4B8F-A1C6-2E93D07B4F15}";
const std::string SisterClass = "{5C0A19E4-7D42-4B8F-A1C6-2E93D07B4F15}";

class UsbSimTest : public ::testing::Test {
protected:
    e2e::TempDir host;
    scratch::ScopedEnv env{"TARVO_HOST", host.path()};
    FirmwareConfigRecord savedConfig = FirmwareConfig;

    void SetUp() override { clearKeys(); }
    void TearDown() override
    {
        FirmwareConfig = savedConfig;
        clearKeys();
    }
    static void clearKeys()
    {
        for (UploadJob& job : uploadJobs) {
            job.deviceKey.clear();
        }
    }
    static void family(bool dude, int comBase)
    {
        FirmwareConfig.Firmware_from_DUDE_protocol = dude;
        FirmwareConfig.ComBase = comBase;
    }
};

TEST_F(UsbSimTest, PlugAnnouncesAModemThatDiscoveryFindsAndPullsInAnyOrder)
{
    e2e::DevNotifyListener station(host.path());
    ASSERT_TRUE(station.bound());
    e2e::UsbSim usb(host.path());
    ASSERT_TRUE(usb.started());

    std::string answer = usb.command("plug COM3 serial=0807060504030201");
    ASSERT_EQ(answer.rfind("plugged COM3 0807060504030201 /dev/pts/", 0), 0u) << answer << usb.err();
    EXPECT_EQ(station.next(), "arrival " + DudeClass + " \\\\?\\NLUSBMDM#VID_4E2C&PID_7A01\\0807060504030201");
    ASSERT_EQ(usb.command("plug 5 serial=00000000000000A5").rfind("plugged COM5 ", 0), 0u);
    EXPECT_EQ(station.next(), "arrival " + DudeClass + " \\\\?\\NLUSBMDM#VID_4E2C&PID_7A01\\00000000000000A5");
    ASSERT_EQ(usb.command("plug COM12 --sister serial=1122334455667788").rfind("plugged COM12 ", 0), 0u);
    EXPECT_EQ(station.next(), "arrival " + SisterClass + " \\\\?\\KVUSBMDM#VID_4E2B&PID_7A02\\1122334455667788");
    EXPECT_EQ(usb.command("plug COM3"), "failed plug COM3: a modem is in already");
    EXPECT_EQ(usb.command("plug COM6 serial=0807060504030201"),
              "failed plug COM6: serial 0807060504030201 is in on COM3 already");
    EXPECT_EQ(usb.command("list"), "plugged: COM3 COM5 COM12");

    family(true, 1);
    EXPECT_EQ(findUsbModemPort("0807060504030201", UsbArrival), 3);
    EXPECT_EQ(findUsbModemPort("00000000000000a5", UsbArrival), 5);
    EXPECT_EQ(findUsbModemPort("1122334455667788", UsbArrival), 0);  // the other brand's tree
    family(false, 11);
    EXPECT_EQ(findUsbModemPort("1122334455667788", UsbArrival), 12);

    EXPECT_EQ(usb.command("pull COM5"), "pulled COM5");
    EXPECT_EQ(station.next(), "removal " + DudeClass + " \\\\?\\NLUSBMDM#VID_4E2C&PID_7A01\\00000000000000A5");
    EXPECT_EQ(usb.command("pull COM12"), "pulled COM12");
    EXPECT_EQ(station.next(), "removal " + SisterClass + " \\\\?\\KVUSBMDM#VID_4E2B&PID_7A02\\1122334455667788");
    EXPECT_EQ(usb.command("pull COM5"), "failed pull COM5: no modem is in");
    EXPECT_EQ(usb.command("list"), "plugged: COM3");
    EXPECT_EQ(usb.finish(), 0);  // quit pulls the rest
    EXPECT_EQ(station.next(), "removal " + DudeClass + " \\\\?\\NLUSBMDM#VID_4E2C&PID_7A01\\0807060504030201");
    EXPECT_EQ(access((host.path() + "/ports/com3").c_str(), F_OK), -1);
}

TEST_F(UsbSimTest, PullFailsTheOpenPortAtOnceAndForgetTakesTheEntries)
{
    e2e::UsbSim usb(host.path());
    ASSERT_EQ(usb.command("plug COM4 serial=0807060504030201").rfind("plugged COM4 ", 0), 0u) << usb.err();
    EXPECT_NE(usb.err().find("nobody listens on " + host.path() + "/devnotify"), std::string::npos) << usb.err();

    SerialPort port = openPort("COM4", DefaultSpeedCode);
    ASSERT_NE(port, -1);
    writeText(port, "AT\r");
    ASSERT_TRUE(waitForOk(port));  // a live modem behind the port
    family(true, 1);
    ASSERT_EQ(findUsbModemPort("0807060504030201", UsbArrival), 4);  // binds the key to record 4

    // What the modem sent before it went (the end of its OK line) is still there to be read;
    // drop it so the read below meets the pull itself.
    purgePort(port);
    EXPECT_EQ(usb.command("pull COM4 --forget"), "pulled COM4");
    auto start = std::chrono::steady_clock::now();
    uint8_t byte = 0;
    int32_t got = 0;
    while ((got = readBytes(port, &byte, 1)) == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::milliseconds(PullSeenLimitMs)) {
        waitForInput(port, 10);
    }
    EXPECT_EQ(got, -1);  // a read fails at once, as with a modem pulled out
    EXPECT_EQ(writeBytes(port, "AT\r", 3), -1);
    closePort(port);
    EXPECT_EQ(openPort("COM4", DefaultSpeedCode), -1);

    EXPECT_EQ(findUsbModemPort("0807060504030201", UsbRemoval), 4);  // from the record alone
    clearKeys();
    EXPECT_EQ(findUsbModemPort("0807060504030201", UsbRemoval), 0);  // the entries are gone
}

TEST_F(UsbSimTest, AModemThatVanishesByItselfIsAnnouncedAsGone)
{
    e2e::DevNotifyListener station(host.path());
    e2e::UsbSim usb(host.path());
    ASSERT_EQ(usb.command("plug COM2 --pull-out-after 0").rfind("plugged COM2 ", 0), 0u) << usb.err();
    EXPECT_EQ(station.next().rfind("arrival ", 0), 0u);

    // The modem goes as its receiver starts: upload mode asked for and confirmed.
    SerialPort port = openPort("COM2", DefaultSpeedCode);
    ASSERT_NE(port, -1);
    writeText(port, "ATUPX\r");
    std::string answer;
    for (auto start = std::chrono::steady_clock::now();
         answer.find("(Y/N)?") == std::string::npos &&
         std::chrono::steady_clock::now() - start < std::chrono::milliseconds(LineCharTimeoutMs);) {
        char byte = 0;
        if (readBytes(port, &byte, 1) == 1) {
            answer += byte;
        } else {
            waitForInput(port, 10);
        }
    }
    ASSERT_NE(answer.find("(Y/N)?"), std::string::npos) << answer;
    writeText(port, "Y\r");
    EXPECT_EQ(usb.nextLine(), "gone COM2");
    EXPECT_EQ(station.next().rfind("removal " + DudeClass + " ", 0), 0u);
    closePort(port);
    EXPECT_EQ(usb.command("list"), "plugged:");
    EXPECT_EQ(usb.finish(SIGTERM), 0);
}

}  // namespace
