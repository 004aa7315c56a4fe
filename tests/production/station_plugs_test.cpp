// The station and the device tree's port devices: a modem of the product line on a row's port
// starts the row with its USB serial as the device key on any Windows family, without asking the
// registry; its removal stops the row; every other arrival starts nothing and says why in one
// line; a host whose device tree gives no events makes the station say so.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <string>

#include "support/plug_station.h"
#include "support/scratch.h"

namespace {

using platform::DeviceChange;

int finderCalls = 0;

int32_t countingFinder(const std::string&, int32_t)
{
    ++finderCalls;
    return 0;
}

DeviceChange plug(uint32_t event, int32_t port, uint16_t vendor, uint16_t product, const std::string& serial)
{
    DeviceChange change;
    change.event = event;
    change.deviceType = platform::DbtDevtypPort;
    change.name = "/dev/ttyACM0";
    change.port = port;
    change.usbVendor = vendor;
    change.usbProduct = product;
    change.serial = serial;
    return change;
}

class StationPlugsTest : public station_steps::PlugStationTest {
protected:
    StationPlugsTest() : PlugStationTest(countingFinder) { finderCalls = 0; }

    DeviceAction change(const DeviceChange& event, std::string* said) { return changeSaying(event, said); }
};

TEST_F(StationPlugsTest, ProductModemOnARowStartsItWithItsSerialAndItsRemovalStopsIt)
{
    upload_test::JoinWorkersOnExit joinWorkers;
    std::string said;
    DeviceAction action = change(plug(platform::DbtDeviceArrival, 3, 0x4E2C, 0x7A01, "A1B2C3"), &said);
    EXPECT_EQ(action.kind, DeviceAction::Started);
    EXPECT_EQ(action.port, 3);
    EXPECT_EQ(said, "");
    EXPECT_EQ(uploadJobs[3].deviceKey, "A1B2C3");
    EXPECT_EQ(uploadJobs[3].keepRunning.load(), 1);
    EXPECT_TRUE(station_.busy(3));

    action = change(plug(platform::DbtDeviceRemoveComplete, 3, 0x4E2C, 0x7A01, "A1B2C3"), &said);
    EXPECT_EQ(action.kind, DeviceAction::Stopped);
    EXPECT_EQ(action.port, 3);
    EXPECT_EQ(uploadJobs[3].keepRunning.load(), 0);
    EXPECT_EQ(uploadJobs[3].resetCountdown, ResetCountdownPolls);
    EXPECT_EQ(finderCalls, 0);  // the device tree found the port: no registry search
}

// The ids follow the protocol switch, as the driver's class does: the sister brand's modem is the
// station's only when Firmware_from_DUDE_protocol is off.
TEST_F(StationPlugsTest, SisterBrandFollowsTheProtocolSwitch)
{
    upload_test::JoinWorkersOnExit joinWorkers;
    std::string said;
    DeviceAction action = change(plug(platform::DbtDeviceArrival, 2, 0x4E2B, 0x7A02, "S1"), &said);
    EXPECT_EQ(action.kind, DeviceAction::None);
    EXPECT_EQ(said, "Tarvo32: /dev/ttyACM0 (serial S1) ignored: USB 4e2b:7a02 is the product line's other "
                    "brand; this station takes 4e2c:7a01 (Firmware_from_DUDE_protocol in Tarvo32.ini)\n");

    FirmwareConfig.Firmware_from_DUDE_protocol = 0;
    action = change(plug(platform::DbtDeviceArrival, 2, 0x4E2B, 0x7A02, "S1"), &said);
    EXPECT_EQ(action.kind, DeviceAction::Started);
    EXPECT_EQ(uploadJobs[2].deviceKey, "S1");
    action = change(plug(platform::DbtDeviceArrival, 4, 0x4E2C, 0x7A01, "S2"), &said);
    EXPECT_EQ(action.kind, DeviceAction::None);
    EXPECT_NE(said.find("4e2c:7a01 is the product line's other brand; this station takes 4e2b:7a02"),
              std::string::npos)
        << said;
}

// Anything else plugged in starts nothing and says why, once: its removal is quiet.
TEST_F(StationPlugsTest, IgnoredArrivalsSayWhyInOneLine)
{
    std::array<bool, StationRowCount + 1> served{};
    served[1] = served[2] = served[3] = true;  // the command line serves COM1 to COM3
    station_.serveOnly(served);
    struct Case {
        DeviceChange change;
        const char* why;
    };
    const Case cases[] = {
        {plug(platform::DbtDeviceArrival, 3, 0x0403, 0x6001, "FT1"),
         "USB 0403:6001 is not a modem of the product line (this station takes 4e2c:7a01)"},
        {plug(platform::DbtDeviceArrival, 3, 0, 0, ""), "not a USB device"},
        {plug(platform::DbtDeviceArrival, 0, 0x4E2C, 0x7A01, "M1"), "no COM port's entry leads to it"},
        {plug(platform::DbtDeviceArrival, 9, 0x4E2C, 0x7A01, "M1"),
         "its entry is COM9, not one of the station's ports COM1 to COM8"},
        {plug(platform::DbtDeviceArrival, 5, 0x4E2C, 0x7A01, "M1"),
         "its entry is COM5, which this station does not serve"},
    };
    for (const Case& c : cases) {
        std::string said;
        DeviceAction action = change(c.change, &said);
        EXPECT_EQ(action.kind, DeviceAction::None) << c.why;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_EQ(said.rfind("Tarvo32: /dev/ttyACM0", 0), 0u) << said;
        EXPECT_NE(said.find(c.why), std::string::npos) << said;

        DeviceChange removal = c.change;
        removal.event = platform::DbtDeviceRemoveComplete;
        EXPECT_EQ(change(removal, &said).kind, DeviceAction::None) << c.why;
        EXPECT_EQ(said, "") << c.why;
    }
    EXPECT_TRUE(station_.idle());
    EXPECT_EQ(finderCalls, 0);
}

// Where udev does not run, listening fails with the reason the station then says.
TEST_F(StationPlugsTest, WithoutUdevTheStationSaysWhy)
{
    if (access("/run/udev/control", F_OK) == 0) {
        GTEST_SKIP() << "udev runs on this machine";
    }
    scratch::ScopedEnv noTestBed("UMOCKDEV_DIR", std::nullopt);
    std::string why;
    EXPECT_EQ(station_.listenForPlugs([](const DeviceChange&) {}, &why), PlugListening::Unheard);
    EXPECT_FALSE(station_.listeningForPlugs());
    EXPECT_TRUE(why.find("/run/udev/control") != std::string::npos || why.find("without libudev") != std::string::npos)
        << why;
}

}  // namespace
