// A modemsim program serving one COM port on a pseudo-terminal below $TARVO_HOST, paced at a
// line speed, for the benchmarks: started with its stdout on a pipe (for its "ready" line) and
// its stderr on /dev/null, ended with SIGTERM.
// Thread rule: the benchmark's main thread.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

// Starts a program with its stdout on stdoutFd and its stderr on /dev/null; -1 when it failed.
inline pid_t spawnProgram(const std::vector<std::string>& args, int stdoutFd)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    posix_spawn_file_actions_adddup2(&actions, devNull, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(devNull);
    return pid;
}

class ModemProgram {
public:
    ModemProgram(const std::string& program, int port, uint32_t baud)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = spawnProgram({program, "--port", "COM" + std::to_string(port), "--baud", std::to_string(baud)}, fds[1]);
        close(fds[1]);
        output_ = fdopen(fds[0], "r");
    }
    ~ModemProgram()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (output_) {
            std::fclose(output_);
        }
    }
    ModemProgram(const ModemProgram&) = delete;
    ModemProgram& operator=(const ModemProgram&) = delete;

    // Waits for the program's "ready" line.
    bool ready()
    {
        char line[256];
        return pid_ > 0 && output_ && std::fgets(line, sizeof line, output_) && std::strncmp(line, "ready", 5) == 0;
    }

private:
    pid_t pid_ = -1;
    std::FILE* output_ = nullptr;
};

}  // namespace bench
