// Port entries and the paths they lead through, read from the file system as it is at each call.
#include "platform/linux/port_entries.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/com_port_name.h"
#include "platform/linux/host_paths.h"

namespace platform {

namespace {

constexpr const char* PortsFolder = "/ports";
constexpr size_t UsbIdDigits = 4;
constexpr int HexBase = 16;
// The kernel's names of USB serial devices, handed out in plugging order.
constexpr const char* KernelNameFolder = "/dev/";
constexpr const char* KernelUsbNames[] = {"ttyACM", "ttyUSB"};

// What a link names, or empty when the path is no link (or cannot be read).
std::string linkText(const std::string& path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        return std::string();
    }
    std::string text(static_cast<size_t>(info.st_size > 0 ? info.st_size : 0) + 256, '\0');
    ssize_t size = readlink(path.c_str(), text.data(), text.size());
    if (size <= 0 || static_cast<size_t>(size) >= text.size()) {
        return std::string();
    }
    text.resize(static_cast<size_t>(size));
    return text;
}

std::string absoluteFrom(const std::string& linkPath, const std::string& target)
{
    std::filesystem::path named(target);
    if (named.is_relative()) {
        named = std::filesystem::path(linkPath).parent_path() / named;
    }
    std::string normal = named.lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') {
        normal.pop_back();
    }
    return normal;
}

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// /dev/ttyACM0, /dev/ttyUSB3: a name the kernel gives whichever device comes up next.
bool isKernelUsbName(const std::string& path)
{
    if (!startsWith(path, KernelNameFolder)) {
        return false;
    }
    std::string name = path.substr(std::char_traits<char>::length(KernelNameFolder));
    for (const char* prefix : KernelUsbNames) {
        size_t length = std::char_traits<char>::length(prefix);
        if (startsWith(name, prefix) && name.size() > length &&
            std::all_of(name.begin() + static_cast<std::ptrdiff_t>(length), name.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<PortEntry> portEntries()
{
    std::vector<PortEntry> entries;
    std::string folder = hostDirectory() + PortsFolder;
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return entries;
    }
    while (dirent* item = readdir(directory)) {
        std::string name = item->d_name;
        int port = comPortNumber(name);
        if (port == 0) {
            continue;
        }
        entries.push_back(PortEntry{port, folder + "/" + name});
    }
    closedir(directory);
    // Directory order is no order: by port, and by name within a port, so the choice is stable.
    std::sort(entries.begin(), entries.end(), [](const PortEntry& a, const PortEntry& b) {
        return a.port != b.port ? a.port < b.port : a.path < b.path;
    });
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const PortEntry& a, const PortEntry& b) { return a.port == b.port; }),
                  entries.end());
    return entries;
}

std::vector<std::string> systemPortNames()
{
    std::vector<std::string> names;
    for (const PortEntry& entry : portEntries()) {
        names.push_back(comPortName(entry.port));
    }
    return names;
}

std::string stableLinkAdvice()
{
    return std::string("the modem's link below ") + SocketLinkFolder + " (its USB socket) or " + DeviceLinkFolder +
           " (the modem itself)";
}

std::vector<std::string> entryChain(const std::string& entryPath)
{
    std::vector<std::string> chain{entryPath};
    for (int hop = 0; hop < EntryLinkHops; ++hop) {
        std::string target = linkText(chain.back());
        if (target.empty()) {
            break;
        }
        chain.push_back(absoluteFrom(chain.back(), target));
    }
    return chain;
}

bool chainReaches(const std::vector<std::string>& chain, const std::string& node,
                  const std::vector<std::string>& links)
{
    for (size_t i = 1; i < chain.size(); ++i) {
        if (!node.empty() && chain[i] == node) {
            return true;
        }
        if (std::find(links.begin(), links.end(), chain[i]) != links.end()) {
            return true;
        }
    }
    return false;
}

int32_t portLeadingTo(const std::string& node, const std::vector<std::string>& links)
{
    for (const PortEntry& entry : portEntries()) {
        if (chainReaches(entryChain(entry.path), node, links)) {
            return entry.port;
        }
    }
    return 0;
}

std::vector<std::string> linksFoundFor(const std::string& node, const std::vector<std::string>& folders)
{
    std::vector<std::string> links;
    struct stat device {};
    if (node.empty() || stat(node.c_str(), &device) != 0) {
        return links;
    }
    for (const std::string& folder : folders) {
        DIR* directory = opendir(folder.c_str());
        if (directory == nullptr) {
            continue;
        }
        while (dirent* item = readdir(directory)) {
            std::string path = folder + item->d_name;
            struct stat target {};
            if (item->d_name[0] != '.' && stat(path.c_str(), &target) == 0 && target.st_dev == device.st_dev &&
                target.st_ino == device.st_ino) {
                links.push_back(path);
            }
        }
        closedir(directory);
    }
    std::sort(links.begin(), links.end());
    return links;
}

uint16_t usbIdValue(const std::string& text)
{
    if (text.size() != UsbIdDigits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
        return 0;
    }
    return static_cast<uint16_t>(std::stoul(text, nullptr, HexBase));
}

PortDeviceInfo describeEntry(const std::string& portName)
{
    PortDeviceInfo info;
    info.entry = portEntryPath(portName);
    if (info.entry.empty()) {
        return info;
    }
    info.leadsTo = linkText(info.entry);
    struct stat target {};
    info.present = stat(info.entry.c_str(), &target) == 0;
    info.unstableName = !info.leadsTo.empty() && isKernelUsbName(absoluteFrom(info.entry, info.leadsTo));
    return info;
}

void addDeviceFacts(PortDeviceInfo* info, const std::vector<std::string>& chain, const std::string& node,
                    uint16_t vendor, uint16_t product, const std::string& serial,
                    const std::vector<std::string>& links)
{
    info->known = true;
    info->node = node;
    info->usbVendor = vendor;
    info->usbProduct = product;
    info->serial = serial;
    info->links = links;
    std::sort(info->links.begin(), info->links.end());
    for (const std::string& link : info->links) {
        if (info->socketLink.empty() && startsWith(link, SocketLinkFolder)) {
            info->socketLink = link;
        }
        if (info->deviceLink.empty() && startsWith(link, DeviceLinkFolder)) {
            info->deviceLink = link;
        }
    }
    if (chain.size() > 1 && chain[1] == node) {
        info->unstableName = true;
    }
}

}  // namespace platform
