// The host's stand-ins for CreateProcessA with its wait and for ExitWindowsEx, over posix_spawn
// and pidfd.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/linux/host_paths.h"
#include "platform/process.h"

extern char** environ;

namespace platform {

namespace {

constexpr const char* RebootVariable = "TARVO_REBOOT_COMMAND";
constexpr const char* Shell = "/bin/sh";
constexpr const char* NullDevice = "/dev/null";

// Polling step when the kernel can't hand out a descriptor for a process (before Linux 5.3).
constexpr uint32_t ProcessPollStepMs = 10;

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
