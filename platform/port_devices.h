// The COM ports this host has and the devices behind them, for a line that sets up and checks its
// sockets (`Tarvo32 ports`): which ports exist, where each one's entry leads, whether a device is
// there now, and what the host's device tree knows of that device.
//
// On Linux the ports are the entries $TARVO_HOST/ports/comN and the device tree is udev's (its
// database, through libudev); a device belongs to a port when the entry leads to its node or to
// one of its links, directly or through further links. A link below /dev/serial/by-path names the
// USB socket the device is plugged into, one below /dev/serial/by-id the device itself; both stay
// the same whatever order devices come up in, unlike the kernel's node name (/dev/ttyACM0). On
// Windows the ports are the COM names the system knows and there is no device tree here.
//
// Results: see each function.
// Thread rule: any thread; nothing is kept between calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class DeviceTreeState {
    Available,      // the device tree can be asked
    NotRunning,     // udev does not run here (the text says how that was seen)
    NotBuilt,       // the program was built without libudev
    NotOnThisHost,  // Windows: the driver's own notifications serve
};

// Whether the device tree can be asked; *why (when given) says why not, in words.
DeviceTreeState deviceTreeState(std::string* why = nullptr);

// The names of the COM ports the host has ("COM3"), in port order.
std::vector<std::string> systemPortNames();

// One port and the device behind it.
struct PortDeviceInfo {
    std::string entry;      // where the host keeps the port ($TARVO_HOST/ports/com3)
    std::string leadsTo;    // what the entry names (a link's text); empty when it is no link
    bool present = false;   // a device is there now
    bool known = false;     // the device tree knows that device; the fields below are its
    std::string node;       // /dev/ttyACM0
    uint16_t usbVendor = 0; // 0 when it is not a USB device
    uint16_t usbProduct = 0;
    std::string serial;
    std::vector<std::string> links;  // every link udev made for it
    std::string socketLink; // the link naming its USB socket; empty when it has none
    std::string deviceLink; // the link naming the device itself; empty when it has none
    // The entry names the kernel's name of the moment (/dev/ttyACM0, /dev/ttyUSB1), which another
    // device may get after the next plug; a stable link should be used instead.
    bool unstableName = false;
};

// Where the stable names of a device are, for a hint when none of its own is known: a phrase.
std::string stableLinkAdvice();

// What is known of the port's device; entry and leadsTo are filled even without a device tree.
PortDeviceInfo describePortDevice(const std::string& portName);

}  // namespace platform
