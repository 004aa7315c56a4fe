// Where this host keeps what the Windows machine would: the folder $TARVO_HOST and the port
// entries below it.
#include "platform/linux/host_paths.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

#include "platform/com_port_name.h"

namespace platform {

namespace {

constexpr const char* HostVariable = "TARVO_HOST";
constexpr const char* XdgDataVariable = "XDG_DATA_HOME";
constexpr const char* HomeVariable = "HOME";
constexpr const char* HostFolderName = "tarvo32";
constexpr const char* DefaultDataFolder = "/.local/share";
constexpr const char* PortsFolder = "/ports/";
constexpr const char* PortEntryPrefix = "com";

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string homeDirectory()
{
    std::string home = environmentValue(HomeVariable);
    if (!home.empty()) {
        return home;
    }
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) {
        return entry->pw_dir;
    }
    return std::string();
}

}  // namespace

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string hostDirectory()
{
    std::string host = environmentValue(HostVariable);
    if (!host.empty()) {
        return withoutTrailingSlashes(host);
    }
    // The XDG rules ignore a relative XDG_DATA_HOME.
    std::string data = environmentValue(XdgDataVariable);
    if (data.empty() || data.front() != '/') {
        data = homeDirectory() + DefaultDataFolder;
    }
    return withoutTrailingSlashes(data) + "/" + HostFolderName;
}

std::string portEntryPath(const std::string& portName)
{
    const int number = comPortNumber(portName);
    if (number == 0) {
        return std::string();
    }
    return hostDirectory() + PortsFolder + PortEntryPrefix + std::to_string(number);
}

}  // namespace platform
