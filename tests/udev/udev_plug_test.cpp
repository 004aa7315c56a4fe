// USB modems plugged and pulled in a fake device tree (umockdev): hub sockets and modems as udev
// shows them after its rules ran (node, by-path and by-id links, USB ids, serial), the station
// listening as `Tarvo32 production --watch` and the dialog do, on the NT family, where the
// driver's notices are not heard; and `Tarvo32 ports` reading the same tree.
#include <gtest/gtest.h>

#include <umockdev.h>

#include <csignal>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/host_paths.h"
#include "support/e2e_support.h"
#include "support/plug_station.h"
#include "support/scratch.h"
#include "support/wait_until.h"

namespace {

namespace fs = std::filesystem;
using platform::DeviceChange;

constexpr auto EventWait = std::chrono::seconds(5);
constexpr auto QuietWait = std::chrono::milliseconds(300);

// Links shaped as udev makes them, on a hub no real machine has: a station started by a test
// follows its entries with the kernel, outside the bed, and must find nothing there.
constexpr const char* SocketA = "/dev/serial/by-path/platform-tarvo-test-hub-usb-0:1.2:1.0";
constexpr const char* SocketB = "/dev/serial/by-path/platform-tarvo-test-hub-usb-0:1.3:1.0";
constexpr const char* SocketE = "/dev/serial/by-path/platform-tarvo-test-hub-usb-0:1.5:1.0";

std::string byId(const std::string& serial)
{
    return "/dev/serial/by-id/usb-Tarvo_Test_Modem_" + serial + "-if00";
}

struct Modem {
    std::string name;     // ttyACM0
    std::string usbName;  // 1-1.2, the hub socket
    std::string vendor = "4e2c";
    std::string product = "7a01";
    std::string serial;
    std::vector<std::string> links;
};

int32_t noFinder(const std::string&, int32_t)
{
    ADD_FAILURE() << "the registry was searched for a device the device tree had found";
    return 0;
}

class UdevPlugTest : public station_steps::PlugStationTest {
protected:
    UdevPlugTest() : PlugStationTest(noFinder) {}

    void SetUp() override
    {
        PlugStationTest::SetUp();
        bed_ = umockdev_testbed_new();
    }
    void TearDown() override
    {
        PlugStationTest::TearDown();
        g_object_unref(bed_);
    }

    // Where an entry goes in the fixture's host folder: entryPath("com3").
    static std::string entryPath(const std::string& name) { return platform::hostDirectory() + "/ports/" + name; }

    void entry(const std::string& name, const std::string& target)
    {
        fs::create_symlink(target, entryPath(name));
    }

    void listen()
    {
        std::string why;
        ASSERT_EQ(station_.listenForPlugs(
                      [this](const DeviceChange& change) {
                          std::lock_guard<std::mutex> lock(mutex_);
                          events_.push_back(change);
                      },
                      &why),
                  PlugListening::Listening)
            << why;
    }

    // The device tree as udev has it once its rules ran for a modem: the USB device in its hub
    // socket, its interface and its tty; adding the tty is its "add" event.
    std::string plug(const Modem& modem)
    {
        std::string links;
        for (const std::string& link : modem.links) {
            links += (links.empty() ? "" : " ") + link;
        }
        std::string node = "/dev/" + modem.name;
        gchar* usb = umockdev_testbed_add_device(bed_, "usb", modem.usbName.c_str(), nullptr, "idVendor",
                                                 modem.vendor.c_str(), "idProduct", modem.product.c_str(), "serial",
                                                 modem.serial.c_str(), nullptr, "DEVTYPE", "usb_device", nullptr);
        gchar* interface = umockdev_testbed_add_device(bed_, "usb", (modem.usbName + ":1.0").c_str(), usb, nullptr,
                                                       "DEVTYPE", "usb_interface", nullptr);
        gchar* tty = umockdev_testbed_add_device(
            bed_, "tty", modem.name.c_str(), interface, "dev", "166:0", nullptr, "DEVNAME", node.c_str(), "ID_BUS",
            "usb", "ID_VENDOR_ID", modem.vendor.c_str(), "ID_MODEL_ID", modem.product.c_str(), "ID_SERIAL_SHORT",
            modem.serial.c_str(), "DEVLINKS", links.c_str(), nullptr);
        std::string syspath = tty;
        g_free(usb);
        g_free(interface);
        g_free(tty);
        return syspath;
    }

    void pull(const std::string& syspath)
    {
        umockdev_testbed_uevent(bed_, syspath.c_str(), "remove");
    }

    // The next event the station's listener passed on, handed to the station as the UI thread
    // would; what it did and what it said.
    std::optional<DeviceAction> next(std::string* said = nullptr)
    {
        std::optional<DeviceChange> change;
        test_support::waitUntil(
            [&] {
                std::lock_guard<std::mutex> lock(mutex_);
                if (events_.empty()) {
                    return false;
                }
                change = events_.front();
                events_.pop_front();
                return true;
            },
            EventWait);
        if (!change) {
            return std::nullopt;
        }
        last_ = *change;
        std::string text;
        DeviceAction action = changeSaying(*change, &text);
        if (said) {
            *said = text;
        }
        return action;
    }

    bool quiet()
    {
        std::this_thread::sleep_for(QuietWait);
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.empty();
    }

    // One modem plugged and pulled: the row it leads to starts with its serial and stops.
    void expectRowStartsAndStops(const Modem& modem, int port)
    {
        upload_test::JoinWorkersOnExit joinWorkers;
        std::string tty = plug(modem);
        std::optional<DeviceAction> action = next();
        ASSERT_TRUE(action);
        EXPECT_EQ(last_.name, "/dev/" + modem.name);
        EXPECT_EQ(last_.serial, modem.serial);
        EXPECT_EQ(action->kind, DeviceAction::Started);
        EXPECT_EQ(action->port, port);
        EXPECT_EQ(uploadJobs[port].deviceKey, modem.serial);
        EXPECT_EQ(uploadJobs[port].keepRunning.load(), 1);

        pull(tty);
        action = next();
        ASSERT_TRUE(action);
        EXPECT_EQ(action->kind, DeviceAction::Stopped);
        EXPECT_EQ(action->port, port);
        EXPECT_EQ(uploadJobs[port].keepRunning.load(), 0);
        EXPECT_EQ(uploadJobs[port].resetCountdown, ResetCountdownPolls);
    }

    UMockdevTestbed* bed_ = nullptr;
    std::mutex mutex_;
    std::deque<DeviceChange> events_;
    DeviceChange last_;
};

TEST_F(UdevPlugTest, ModemInARowsHubSocketStartsTheRowAndPullingItStopsIt)
{
    entry("com3", SocketA);
    entry("com4", SocketB);
    listen();
    expectRowStartsAndStops({"ttyACM0", "1-1.2", "4e2c", "7a01", "A1B2C3D4", {SocketA, byId("A1B2C3D4")}}, 3);
}

TEST_F(UdevPlugTest, RowBoundToOneModemByItsIdLink)
{
    entry("com5", byId("M0005"));
    listen();
    expectRowStartsAndStops({"ttyACM1", "1-1.4", "4e2c", "7a01", "M0005", {SocketB, byId("M0005")}}, 5);
}

// Another product's tty, and a modem in a socket no row's entry leads to: nothing starts, and one
// line says why for each.
TEST_F(UdevPlugTest, OtherProductsAndUnboundSocketsStartNothing)
{
    entry("com3", SocketA);
    listen();
    std::string said;
    plug({"ttyUSB0", "1-1.2", "0403", "6001", "FT0001", {SocketA, "/dev/serial/by-id/usb-FTDI_FT0001-if00-port0"}});
    std::optional<DeviceAction> action = next(&said);
    ASSERT_TRUE(action);
    EXPECT_EQ(action->kind, DeviceAction::None);
    EXPECT_EQ(said, "Tarvo32: /dev/ttyUSB0 (serial FT0001) ignored: USB 0403:6001 is not a modem of the product "
                    "line (this station takes 4e2c:7a01)\n");

    plug({"ttyACM2", "1-1.7", "4e2c", "7a01", "M0007", {"/dev/serial/by-path/platform-tarvo-test-hub-usb-0:1.7:1.0"}});
    action = next(&said);
    ASSERT_TRUE(action);
    EXPECT_EQ(action->kind, DeviceAction::None);
    EXPECT_EQ(said, "Tarvo32: /dev/ttyACM2 (serial M0007) ignored: no COM port's entry leads to it or to its links\n");
    EXPECT_TRUE(station_.idle());
    EXPECT_TRUE(quiet());
}

// A tree in the shape a recording of real hardware has: the links only as files below
// /dev/serial (no DEVLINKS property) and the USB ids only as the USB device's attributes. The row
// bound to the socket starts; a removal that comes after the links went is still that row's.
TEST_F(UdevPlugTest, RecordedTreeWithLinkFilesAndUsbAttributes)
{
    entry("com2", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0");
    listen();
    const char* tree =
        "P: /devices/pci0000:00/0000:00:14.0/usb1/1-2\nN: bus/usb/001/005\nE: SUBSYSTEM=usb\n"
        "E: DEVTYPE=usb_device\nA: idVendor=4e2c\nA: idProduct=7a01\nA: serial=ZX81\n\n"
        "P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n"
        "P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/tty/ttyACM0\nN: ttyACM0\n"
        "S: serial/by-id/usb-Tarvo_Test_Modem_ZX81-if00\nS: serial/by-path/pci-0000:00:14.0-usb-0:2:1.0\n"
        "E: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyACM0\n";
    upload_test::JoinWorkersOnExit joinWorkers;
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(bed_, tree, &error)) << (error ? error->message : "");
    std::optional<DeviceAction> action = next();
    ASSERT_TRUE(action);
    EXPECT_EQ(action->kind, DeviceAction::Started);
    EXPECT_EQ(action->port, 2);
    EXPECT_EQ(uploadJobs[2].deviceKey, "ZX81");

    // The bed's files are where its preload takes /dev.
    fs::remove("/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0");
    fs::remove("/dev/serial/by-id/usb-Tarvo_Test_Modem_ZX81-if00");
    pull("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/tty/ttyACM0");
    action = next();
    ASSERT_TRUE(action);
    EXPECT_EQ(action->kind, DeviceAction::Stopped);
    EXPECT_EQ(action->port, 2);
}

// `Tarvo32 ports` on the same kind of tree: a row bound to a hub socket, one bound to the kernel's
// node (with the hint naming the stable links), one whose modem is not plugged in.
TEST_F(UdevPlugTest, PortsCommandReadsTheDeviceTree)
{
    entry("com1", SocketA);
    entry("com2", "/dev/ttyACM1");
    entry("com3", SocketB);
    plug({"ttyACM0", "1-1.2", "4e2c", "7a01", "A1", {SocketA, byId("A1")}});
    plug({"ttyACM1", "1-1.5", "4e2b", "7a02", "B2", {SocketE, byId("B2")}});

    e2e::RunResult text = e2e::run(e2e::tarvoExecutable(), {"ports"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find(std::string("COM1 -> ") + SocketA + " "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("/dev/ttyACM0 usb 4e2c:7a01 serial A1 links " + byId("A1") + " " + SocketA + "\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("COM2 -> /dev/ttyACM1 "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("/dev/ttyACM1 usb 4e2b:7a02 serial B2"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(std::string("COM3 -> ") + SocketB + " absent\n"), std::string::npos) << text.out;
    EXPECT_EQ(text.err, std::string("COM2: its entry names /dev/ttyACM1, the kernel's name of the moment, which another modem "
                        "may get after the next plug; link it to ") + SocketE +
                        " (this USB socket) or " + byId("B2") + " (this modem)\n");

    e2e::RunResult json = e2e::run(e2e::tarvoExecutable(), {"ports", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("{\"port\":\"COM1\",\"entry\":\"" + entryPath("com1") + "\",\"leadsTo\":\"" + SocketA +
                        "\","),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"node\":\"/dev/ttyACM0\",\"usb\":\"4e2c:7a01\",\"serial\":\"A1\",\"links\":[\"" + byId("A1") +
                        "\",\"" + SocketA + "\"],\"hint\":null}"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"port\":\"COM3\""), std::string::npos) << json.out;
}

// The real station, `Tarvo32 production --watch` acting as the NT family: the listed port has no
// entry at first (absent); once its entry leads to a hub socket, plugging a modem in there starts
// the row (no device can be opened behind the fake tree, so its worker fails at once, saying
// why). Another product's tty only says why it is ignored; pulling the modem out ends nothing
// more.
TEST_F(UdevPlugTest, WatchingStationStartsTheRowOfAPluggedModem)
{
    e2e::Delivery delivery("[INFO]\r\nFirmware_file=image.bin\r\nFirmware_from_DUDE_protocol=TRUE\r\n");
    delivery.addFile("image.bin", std::string(1024, 'x'));
    e2e::Process station(delivery.executable(), {"production", "--watch", "COM3"}, {{"TARVO_WINVER", "winxp"}});
    ASSERT_TRUE(station.started());
    ASSERT_TRUE(station.waitForOutput("COM3 absent\n", 5000)) << station.err();

    entry("com3", SocketA);
    std::string modem = plug({"ttyACM0", "1-1.2", "4e2c", "7a01", "A1", {SocketA, byId("A1")}});
    ASSERT_TRUE(station.waitForOutput("COM3 absent\nCOM3 Failed", 10000)) << station.err();
    EXPECT_NE(station.err().find("COM3: the port's device is not there"), std::string::npos) << station.err();
    plug({"ttyUSB0", "1-1.3", "0403", "6001", "FT1", {SocketB}});
    ASSERT_TRUE(test_support::waitUntil(
        [&] { return station.err().find("/dev/ttyUSB0 (serial FT1) ignored") != std::string::npos; }, EventWait))
        << station.err();
    pull(modem);

    station.signal(SIGTERM);
    EXPECT_EQ(station.wait(5000), 0);
    EXPECT_EQ(station.out().rfind("COM3 absent\nCOM3 Failed", 0), 0u) << station.out();
    EXPECT_EQ(station.out().find("COM3 Failed", station.out().find("COM3 Failed") + 1), std::string::npos)
        << station.out();
    EXPECT_EQ(station.err().find("will not start their rows"), std::string::npos) << station.err();
}

}  // namespace
