// The host's stand-ins for GetModuleFileNameA, GetVersionExA, CreateProcessA with its wait, and
// ExitWindowsEx, over the environment, /proc and posix_spawn.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/host.h"

extern char** environ;

namespace platform {

namespace {

constexpr const char* HostVariable = "TARVO_HOST";
constexpr const char* XdgDataVariable = "XDG_DATA_HOME";
constexpr const char* HomeVariable = "HOME";
constexpr const char* HostFolderName = "tarvo32";
constexpr const char* DefaultDataFolder = "/.local/share";
constexpr const char* PortsFolder = "/ports/";
constexpr const char* PortPrefix = "COM";
constexpr unsigned MaxPortNumber = 255;

constexpr const char* WinverVariable = "TARVO_WINVER";
constexpr const char* RebootVariable = "TARVO_REBOOT_COMMAND";
constexpr const char* Shell = "/bin/sh";
constexpr const char* NullDevice = "/dev/null";
constexpr const char* SelfExecutable = "/proc/self/exe";

// Polling step when the kernel can't hand out a descriptor for a process (before Linux 5.3).
constexpr uint32_t ProcessPollStepMs = 10;

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

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

bool isExecutableFile(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The program and its arguments, from a command line as CreateProcessA reads it without a
// separate application name.
std::vector<std::string> programAndArguments(const std::string& commandLine)
{
    size_t start = 0;
    while (start < commandLine.size() && isBlank(commandLine[start])) {
        ++start;
    }
    if (start < commandLine.size() && commandLine[start] != '"') {
        // Unquoted: try "C:\Program", then "C:\Program Files\Sub", ... as Windows does, so a
        // program folder with spaces in its name still works unquoted.
        for (size_t end = start; end <= commandLine.size(); ++end) {
            if (end != commandLine.size() && !isBlank(commandLine[end])) {
                continue;
            }
            std::string candidate = commandLine.substr(start, end - start);
            if (candidate.find('/') != std::string::npos && isExecutableFile(candidate)) {
                std::vector<std::string> words{candidate};
                std::vector<std::string> rest = splitCommandLine(commandLine.substr(end));
                words.insert(words.end(), rest.begin(), rest.end());
                return words;
            }
        }
    }
    return splitCommandLine(commandLine);
}

// Reaps a child that is still running when its waiter gives up.
void reapInBackground(pid_t pid)
{
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// True when the child has ended (and is reaped now).
bool reapIfEnded(pid_t pid, int* status)
{
    for (;;) {
        pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid) {
            return true;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        // r == 0: still running. r < 0 (ECHILD): someone else reaped it; it has ended.
        return r < 0;
    }
}

// Starts words[0] with the other words as its arguments; the child's pid, or 0.
pid_t spawnHidden(std::vector<std::string> words)
{
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // Hidden: nothing to read, nowhere to write.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, NullDevice, O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, NullDevice, O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, NullDevice, O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // No inherited handles: an open COM port must not stay open in the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    // The child starts with default signal handling and nothing blocked, whatever this thread has.
    sigset_t noSignals;
    sigset_t allSignals;
    sigemptyset(&noSignals);
    sigfillset(&allSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setsigdefault(&attributes, &allSignals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const char* program = argv.front();
    int error = std::strchr(program, '/') ? posix_spawn(&pid, program, &actions, &attributes, argv.data(), environ)
                                          : posix_spawnp(&pid, program, &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error == 0 ? pid : 0;
}

// Waits up to timeoutMs for the child to end; true when it has (reaped, status filled if given).
bool waitChild(pid_t pid, uint32_t timeoutMs, int* status)
{
    if (reapIfEnded(pid, status)) {
        return true;
    }
    if (clockIsVirtual()) {
        // Virtual time: let the wait pass at once, then look again.
        sleepMs(timeoutMs);
        return reapIfEnded(pid, status);
    }
    int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) {
        pollfd p{fd, POLLIN, 0};
        const Ticks start = tickCount();
        for (;;) {
            uint32_t spent = elapsedSince(start);
            if (spent >= timeoutMs) {
                break;
            }
            int r = poll(&p, 1, static_cast<int>(timeoutMs - spent));
            if (r != 0 && !(r < 0 && errno == EINTR)) {
                break;
            }
        }
        close(fd);
        return reapIfEnded(pid, status);
    }
    const Ticks start = tickCount();
    while (elapsedSince(start) < timeoutMs) {
        uint32_t left = timeoutMs - elapsedSince(start);
        sleepMs(left < ProcessPollStepMs ? left : ProcessPollStepMs);
        if (reapIfEnded(pid, status)) {
            return true;
        }
    }
    return false;
}

}  // namespace

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
    const size_t prefixLength = std::strlen(PortPrefix);
    if (portName.size() <= prefixLength || lowerCase(portName.substr(0, prefixLength)) != lowerCase(PortPrefix)) {
        return std::string();
    }
    std::string digits = portName.substr(prefixLength);
    uint32_t number = 0;
    // "COM03" names no device on Windows, so a leading zero is not a port either.
    if (digits.front() == '0' || !parseNumber(digits, number) || number < 1 || number > MaxPortNumber) {
        return std::string();
    }
    return hostDirectory() + PortsFolder + "com" + digits;
}

std::string executablePath()
{
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t n = readlink(SelfExecutable, buffer.data(), buffer.size());
        if (n < 0) {
            return std::string();
        }
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return buffer;
        }
        // Possibly cut: a full path is worth more than the 256 bytes Windows would give.
        buffer.resize(buffer.size() * 2);
    }
}

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

std::vector<std::string> splitCommandLine(const std::string& commandLine)
{
    std::vector<std::string> words;
    size_t i = 0;
    const size_t n = commandLine.size();
    for (;;) {
        while (i < n && isBlank(commandLine[i])) {
            ++i;
        }
        if (i >= n) {
            return words;
        }
        std::string word;
        bool quoted = false;
        while (i < n && (quoted || !isBlank(commandLine[i]))) {
            char c = commandLine[i];
            if (c == '\\') {
                size_t slashes = 0;
                while (i < n && commandLine[i] == '\\') {
                    ++slashes;
                    ++i;
                }
                if (i < n && commandLine[i] == '"') {
                    // 2n backslashes and a quote: n backslashes, the quote groups; 2n+1: n
                    // backslashes and a literal quote.
                    word.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) {
                        word.push_back('"');
                        ++i;
                    }
                } else {
                    word.append(slashes, '\\');
                }
                continue;
            }
            if (c == '"') {
                quoted = !quoted;
            } else {
                word.push_back(c);
            }
            ++i;
        }
        words.push_back(std::move(word));
    }
}

ProcessHandle startHiddenProcess(const std::string& commandLine)
{
    std::vector<std::string> words = programAndArguments(commandLine);
    if (words.empty() || words.front().empty()) {
        return NoProcess;
    }
    pid_t pid = spawnHidden(words);
    return pid > 0 ? static_cast<ProcessHandle>(pid) : NoProcess;
}

bool waitForProcessEnd(ProcessHandle process, uint32_t timeoutMs)
{
    return process == NoProcess || waitChild(static_cast<pid_t>(process), timeoutMs, nullptr);
}

void releaseProcess(ProcessHandle process)
{
    if (process != NoProcess) {
        reapInBackground(static_cast<pid_t>(process));
    }
}

bool exitWindowsEx(uint32_t flags, uint32_t /*reserved*/)
{
    std::string command = environmentValue(RebootVariable);
    if (flags != ExitWindowsReboot || command.empty()) {
        return false;
    }
    pid_t pid = spawnHidden({Shell, "-c", command});
    if (pid <= 0) {
        return false;
    }
    int status = 0;
    if (!waitChild(pid, RestartCommandLimitMs, &status)) {
        // A restart under way may well outlive us; it was asked for, so that counts as done.
        reapInBackground(pid);
        return true;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace platform
