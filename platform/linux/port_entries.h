// The port entries $TARVO_HOST/ports/comN and where they lead, for the device tree's two users
// (the plug events and `Tarvo32 ports`): which entries there are, the paths an entry leads
// through, which entry leads to a device known by its node and links, and what the host's link
// folders say of a link. No libudev here: the build without it lists and describes the entries
// too.
// Results: empty lists, 0 or false when nothing fits.
// Thread rule: any thread (reads the file system each call).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/port_devices.h"

namespace platform {

constexpr int EntryLinkHops = 8;  // links followed from an entry before giving up (a loop)
constexpr const char* SocketLinkFolder = "/dev/serial/by-path/";  // names the USB socket
constexpr const char* DeviceLinkFolder = "/dev/serial/by-id/";    // names the device

struct PortEntry {
    int port = 0;      // 3 for com3
    std::string path;  // $TARVO_HOST/ports/com3
};

// The entries below $TARVO_HOST/ports whose names are COM port names (com3, COM12), in port
// order; the first spelling of a port wins.
std::vector<PortEntry> portEntries();

// The paths an entry leads through: the entry itself, then what its link names, and on through
// further links, each made absolute (relative to the link's folder) and lexically normal. Stops at
// the first path that is no link, one that cannot be read, or after EntryLinkHops links.
std::vector<std::string> entryChain(const std::string& entryPath);

// True when a path of the chain after the entry itself is the node or one of the links.
bool chainReaches(const std::vector<std::string>& chain, const std::string& node,
                  const std::vector<std::string>& links);

// The port whose entry leads to the device with this node and these links: the first in port
// order; 0 when none does.
int32_t portLeadingTo(const std::string& node, const std::vector<std::string>& links);

// The links in the folders (each ending in a separator) that lead to the same file as the node,
// for a device tree that keeps its links only as files: folder + name, sorted. Empty when the
// node is not there.
std::vector<std::string> linksFoundFor(const std::string& node, const std::vector<std::string>& folders);

// A USB id as udev writes it ("4e2c"): its value, 0 when the text is not four hex digits.
uint16_t usbIdValue(const std::string& text);

// The port's entry as the file system shows it: entry, leadsTo and present.
PortDeviceInfo describeEntry(const std::string& portName);
// Adds what the device tree knows of the entry's device (known set, the link kinds sorted out,
// unstableName when the entry names the node itself).
void addDeviceFacts(PortDeviceInfo* info, const std::vector<std::string>& chain, const std::string& node,
                    uint16_t vendor, uint16_t product, const std::string& serial,
                    const std::vector<std::string>& links);

}  // namespace platform
