// `Tarvo32 ports [--json]`: the COM ports this host has, one line per port in port order: where
// its entry leads, whether the device is there now and, where the host's device tree can be
// asked, the device's node, USB ids, serial and links. A port whose entry names the kernel's name
// of the moment (/dev/ttyACM0) gets a hint on stderr naming the stable links of the same device.
// This is how a line sets up and checks its sockets.

#include <cstdio>
#include <string>

#include "app/commands.h"
#include "platform/console.h"
#include "platform/port_devices.h"
#include "platform/serial_device.h"

namespace {

constexpr const char* UsageText = "Usage: Tarvo32 ports [--json]\n"
                                   "  --json   one JSON object per port on stdout\n";
constexpr const char* NotALinkText = "(not a link)";
constexpr const char* PresentWord = "present";
constexpr const char* AbsentWord = "absent";
constexpr const char* NoneWord = "-";

std::string usbIds(const platform::PortDeviceInfo& info)
{
    if (info.usbVendor == 0 && info.usbProduct == 0) {
        return std::string();
    }
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", info.usbVendor, info.usbProduct);
    return text;
}

// What to link the entry to instead of the kernel's name; empty when no hint is due.
std::string stableHint(const std::string& port, const platform::PortDeviceInfo& info)
{
    if (!info.unstableName) {
        return std::string();
    }
    std::string hint = port + ": its entry names " + info.leadsTo +
                       ", the kernel's name of the moment, which another modem may get after the next plug";
    if (!info.socketLink.empty() && !info.deviceLink.empty()) {
        hint += "; link it to " + info.socketLink + " (this USB socket) or " + info.deviceLink + " (this modem)";
    } else if (!info.socketLink.empty()) {
        hint += "; link it to " + info.socketLink + " (this USB socket)";
    } else if (!info.deviceLink.empty()) {
        hint += "; link it to " + info.deviceLink + " (this modem)";
    } else {
        hint += "; link it to " + platform::stableLinkAdvice();
    }
    return hint;
}

std::string textLine(const std::string& port, const platform::PortDeviceInfo& info)
{
    std::string line = port + " -> " + (info.leadsTo.empty() ? NotALinkText : info.leadsTo) + " " +
                       (info.present ? PresentWord : AbsentWord);
    if (info.known) {
        std::string ids = usbIds(info);
        line += " " + info.node + " usb " + (ids.empty() ? NoneWord : ids) + " serial " +
                (info.serial.empty() ? NoneWord : info.serial) + " links";
        for (const std::string& link : info.links) {
            line += " " + link;
        }
        if (info.links.empty()) {
            line += std::string(" ") + NoneWord;
        }
    }
    return line;
}

std::string jsonOrNull(const std::string& text, bool present)
{
    return present ? jsonString(text) : "null";
}

std::string jsonLine(const std::string& port, const platform::PortDeviceInfo& info, const std::string& hint)
{
    std::string links;
    for (const std::string& link : info.links) {
        if (!links.empty()) {
            links += ',';
        }
        links += jsonString(link);
    }
    std::string ids = usbIds(info);
    return "{\"port\":" + jsonString(port) + ",\"entry\":" + jsonString(info.entry) +
           ",\"leadsTo\":" + jsonOrNull(info.leadsTo, !info.leadsTo.empty()) +
           ",\"present\":" + (info.present ? "true" : "false") +
           ",\"node\":" + jsonOrNull(info.node, info.known) + ",\"usb\":" + jsonOrNull(ids, !ids.empty()) +
           ",\"serial\":" + jsonOrNull(info.serial, !info.serial.empty()) + ",\"links\":[" + links + "]" +
           ",\"hint\":" + jsonOrNull(hint, !hint.empty()) + "}";
}

}  // namespace

int commandPorts(const Arguments& arguments)
{
    bool json = false;
    for (const std::string& word : arguments) {
        if (word == "--json") {
            json = true;
        } else {
            std::fprintf(stderr, "Tarvo32: '%s' is not an argument of ports\n", word.c_str());
            std::fputs(UsageText, stderr);
            return UsageExitStatus;
        }
    }
    std::string why;
    platform::DeviceTreeState tree = platform::deviceTreeState(&why);
    if (tree == platform::DeviceTreeState::NotRunning || tree == platform::DeviceTreeState::NotBuilt) {
        std::fprintf(stderr, "Tarvo32 ports: %s: no USB ids, serials or links\n", why.c_str());
    }
    std::vector<std::string> ports = platform::systemPortNames();
    if (ports.empty()) {
        std::fprintf(stderr, "Tarvo32 ports: no COM ports; %s\n", platform::portEntriesAdvice().c_str());
        return FailedExitStatus;
    }
    const bool terminal = platform::stdoutIsTerminal();
    for (const std::string& port : ports) {
        platform::PortDeviceInfo info = platform::describePortDevice(port);
        std::string hint = stableHint(port, info);
        if (json) {
            std::printf("%s\n", jsonLine(port, info, hint).c_str());
        } else {
            std::string line = textLine(port, info);
            std::printf("%s\n", (terminal ? terminalSafe(line) : line).c_str());
        }
        std::fflush(stdout);
        if (!hint.empty()) {
            std::fprintf(stderr, "%s\n", terminalSafe(hint).c_str());
        }
    }
    return SucceededExitStatus;
}
