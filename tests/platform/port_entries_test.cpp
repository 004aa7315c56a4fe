// Port entries and where they lead: the chain of links from $TARVO_HOST/ports/comN, which entry
// leads to a device known by its node and links (a hub socket's by-path link, a modem's by-id
// link, the kernel's node), and the entry's own facts for `Tarvo32 ports`.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/linux/port_entries.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* SocketA = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0";
constexpr const char* SocketB = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.3:1.0";
constexpr const char* ModemM = "/dev/serial/by-id/usb-Nelta_56K_USB_Modem_M0001-if00";

class PortEntriesTest : public ::testing::Test {
protected:
    void link(const std::string& entry, const std::string& target)
    {
        fs::create_symlink(target, host_.portEntry(entry));
    }
    scratch::ScratchHost host_;
};

TEST_F(PortEntriesTest, ChainFollowsLinksRelativeAndAbsoluteAndStopsAtALoop)
{
    fs::create_directories(host_.file("links"));
    link("com3", "../links/a");
    fs::create_symlink(SocketA, host_.file("links/a"));
    EXPECT_EQ(platform::entryChain(host_.portEntry("com3")),
              (std::vector<std::string>{host_.portEntry("com3"), host_.file("links/a"), SocketA}));

    link("com4", "com4");  // a loop
    EXPECT_EQ(platform::entryChain(host_.portEntry("com4")).size(), size_t(platform::EntryLinkHops + 1));
    // Not a link: the entry alone.
    scratch::TempDir plain;
    std::string file = plain.write("x", "");
    EXPECT_EQ(platform::entryChain(file), std::vector<std::string>{file});
}

TEST_F(PortEntriesTest, TheEntryLeadingToTheNodeOrAnyLinkGivesThePort)
{
    link("com3", ModemM);
    link("com5", SocketB);
    link("com7", "/dev/ttyACM0");
    link("com9", SocketB);       // two entries to one socket: the lower port wins
    link("modem", SocketA);      // no COM name: not a port
    link("com03", SocketA);      // no port has a leading zero

    EXPECT_EQ(platform::portLeadingTo("/dev/ttyACM1", {SocketB, "/dev/serial/by-id/usb-X-if00"}), 5);
    EXPECT_EQ(platform::portLeadingTo("/dev/ttyACM4", {SocketA, ModemM}), 3);
    EXPECT_EQ(platform::portLeadingTo("/dev/ttyACM0", {}), 7);
    EXPECT_EQ(platform::portLeadingTo("/dev/ttyACM2", {SocketA}), 0);
    EXPECT_EQ(platform::portLeadingTo("", {}), 0);

    std::vector<platform::PortEntry> entries = platform::portEntries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].port, 3);
    EXPECT_EQ(entries[3].port, 9);
    EXPECT_EQ(platform::systemPortNames(), (std::vector<std::string>{"COM3", "COM5", "COM7", "COM9"}));
}

TEST_F(PortEntriesTest, EntryFactsAndTheKernelsNamesOfTheMoment)
{
    link("com3", SocketA);
    link("com4", "/dev/ttyACM0");
    link("com5", "/dev/ttyUSB12");
    link("com6", "/dev/ttyACMx");
    platform::PortDeviceInfo socket = platform::describeEntry("COM3");
    EXPECT_EQ(socket.entry, host_.portEntry("com3"));
    EXPECT_EQ(socket.leadsTo, SocketA);
    EXPECT_FALSE(socket.unstableName);
    EXPECT_TRUE(platform::describeEntry("COM4").unstableName);
    EXPECT_TRUE(platform::describeEntry("COM5").unstableName);
    EXPECT_FALSE(platform::describeEntry("COM6").unstableName);
    EXPECT_TRUE(platform::describeEntry("COM8").leadsTo.empty());
    EXPECT_FALSE(platform::describeEntry("COM8").present);

    // The device tree's facts: the links sorted out; the entry naming the node is unstable.
    std::vector<std::string> chain = platform::entryChain(host_.portEntry("com3"));
    platform::addDeviceFacts(&socket, chain, "/dev/ttyACM0", 0x4E2C, 0x7A01, "M0001", {SocketA, ModemM});
    EXPECT_TRUE(socket.known);
    EXPECT_EQ(socket.socketLink, SocketA);
    EXPECT_EQ(socket.deviceLink, ModemM);
    EXPECT_FALSE(socket.unstableName);
    platform::PortDeviceInfo node = platform::describeEntry("COM6");
    platform::addDeviceFacts(&node, platform::entryChain(host_.portEntry("com6")), "/dev/ttyACMx", 0, 0, "", {});
    EXPECT_TRUE(node.unstableName);
}

TEST(UsbIdValueTest, FourHexDigitsOnly)
{
    EXPECT_EQ(platform::usbIdValue("4e2c"), 0x4E2C);
    EXPECT_EQ(platform::usbIdValue("7A01"), 0x7A01);
    EXPECT_EQ(platform::usbIdValue("0x4e2c"), 0);
    EXPECT_EQ(platform::usbIdValue("4e2"), 0);
    EXPECT_EQ(platform::usbIdValue("4e2g"), 0);
    EXPECT_EQ(platform::usbIdValue(""), 0);
}

}  // namespace
