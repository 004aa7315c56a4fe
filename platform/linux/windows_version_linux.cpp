// GetVersionExA on this host: the Windows version named by TARVO_WINVER.
#include <cstdlib>

#include "platform/linux/host_paths.h"
#include "platform/windows_version.h"

namespace platform {

namespace {

constexpr const char* WinverVariable = "TARVO_WINVER";

bool allDigits(const std::string& s)
{
    if (s.empty()) {
        return false;
    }
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// A decimal number that fits in 32 bits.
bool parseNumber(const std::string& s, uint32_t& out)
{
    if (!allDigits(s) || s.size() > 10) {
        return false;
    }
    unsigned long long value = std::strtoull(s.c_str(), nullptr, 10);
    if (value > UINT32_MAX) {
        return false;
    }
    out = static_cast<uint32_t>(value);
    return true;
}

std::string lowerCase(std::string s)
{
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

// The 9x family reports its version in the high word of the build number as well.
uint32_t reportedBuild(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t build)
{
    constexpr uint32_t Win9xPlatform = 1;
    if (platformId == Win9xPlatform && build <= 0xFFFF && major <= 0xFF && minor <= 0xFF) {
        return (major << 24) | (minor << 16) | build;
    }
    return build;
}

struct NamedVersion {
    const char* name;
    uint32_t platformId;
    uint32_t major;
    uint32_t minor;
    uint32_t build;
};

constexpr NamedVersion NamedVersions[] = {
    {"win95", 1, 4, 0, 950},     {"win98", 1, 4, 10, 1998}, {"win98se", 1, 4, 10, 2222},
    {"winme", 1, 4, 90, 3000},   {"nt4", 2, 4, 0, 1381},    {"win2k", 2, 5, 0, 2195},
    {"winxp", 2, 5, 1, 2600},
};
constexpr const char* DefaultVersionName = "winxp";

WindowsVersion makeVersion(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t build)
{
    WindowsVersion v;
    v.ok = true;
    v.platformId = platformId;
    v.major = major;
    v.minor = minor;
    v.build = reportedBuild(platformId, major, minor, build);
    return v;
}

}  // namespace

WindowsVersion windowsVersionFrom(const std::string& text)
{
    std::string name = lowerCase(text.empty() ? std::string(DefaultVersionName) : text);
    for (const NamedVersion& v : NamedVersions) {
        if (name == v.name) {
            return makeVersion(v.platformId, v.major, v.minor, v.build);
        }
    }
    // PLATFORMID.MAJOR.MINOR.BUILD
    uint32_t parts[4] = {};
    size_t begin = 0;
    for (int i = 0; i < 4; ++i) {
        size_t end = i < 3 ? name.find('.', begin) : name.size();
        if (end == std::string::npos || !parseNumber(name.substr(begin, end - begin), parts[i])) {
            return WindowsVersion{};
        }
        begin = end + 1;
    }
    return makeVersion(parts[0], parts[1], parts[2], parts[3]);
}

WindowsVersion windowsVersion() { return windowsVersionFrom(environmentValue(WinverVariable)); }

}  // namespace platform
