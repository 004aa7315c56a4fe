// Helpers for end-to-end tests: throw-away folders, a delivery folder holding a copy of Tarvo32
// with its Tarvo32.ini, child processes with captured output, and modemsim on a pseudo-terminal
// below a host folder. Nothing here opens a serial device: modemsim links its own pty.
//
// Results: Process::wait gives the exit status, 128 + signal for a signalled child, -1 when the
// child could not be started or did not end in time (it is then killed).
// Thread rule: test thread only.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/scratch.h"

namespace e2e {

constexpr uint32_t DefaultRunLimitMs = 120000;
constexpr uint32_t ModemReadyLimitMs = 5000;
constexpr uint32_t OutputPollMs = 10;

using Environment = std::vector<std::pair<std::string, std::string>>;

using TempDir = scratch::TempDir;

void writeFile(const std::string& path, const std::string& bytes);
// Bytes that differ from block to block, for firmware images: a linear congruential sequence.
std::string patternBytes(size_t size, uint32_t seed);
std::string readFile(const std::string& path);

// A delivery: a copy of the built Tarvo32 with Tarvo32.ini beside it, as a user would get it.
std::string tarvoExecutable();

class Delivery {
public:
    // The program copied in is Tarvo32 unless another build of it is named.
    explicit Delivery(const std::string& iniText, const std::string& program = tarvoExecutable());
    void addFile(const std::string& name, const std::string& bytes) { writeFile(dir_.file(name), bytes); }
    std::string directory() const { return dir_.path(); }
    std::string executable() const { return dir_.file("Tarvo32"); }

private:
    TempDir dir_;
};

// A child process; stdout and stderr go to files read back on demand, stdin is /dev/null.
// `env` adds to or overrides the test's own environment.
class Process {
public:
    Process(const std::string& program, const std::vector<std::string>& args, const Environment& env = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void signal(int sig);
    int wait(uint32_t limitMs = DefaultRunLimitMs);
    bool running();
    // Polls stdout until it holds `text`; false when the limit passed or the child ended first.
    bool waitForOutput(const std::string& text, uint32_t limitMs);
    std::string out() const { return readFile(outPath_); }
    std::string err() const { return readFile(errPath_); }

private:
    TempDir files_;
    std::string outPath_;
    std::string errPath_;
    pid_t pid_ = -1;
    int status_ = -1;
    bool ended_ = false;
};

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
    uint32_t elapsedMs = 0;
};

// Runs a program to its end (at most limitMs) and gives what it printed.
RunResult run(const std::string& program, const std::vector<std::string>& args, const Environment& env = {},
              uint32_t limitMs = DefaultRunLimitMs);

// The built programs (TARVO_BINARY_DIR).
std::string tarvoExecutable();
std::string modemsimExecutable();
// The screenshot build of the program (tools/screenshots), built with the Qt backend.
std::string screenshotExecutable();

// modemsim serving `port` ("COM3") under the host folder; the constructor waits for its ready
// line. Stopped with SIGTERM at the end unless stopped before.
class ModemSim {
public:
    ModemSim(const std::string& hostDir, const std::string& port, const std::vector<std::string>& options = {});
    bool ready() const { return ready_; }
    const std::string& device() const { return device_; }  // the pty, e.g. /dev/pts/3
    Process& process() { return process_; }
    // Ends it (SIGTERM) and gives its exit status.
    int stop();

private:
    Process process_;
    bool ready_ = false;
    std::string device_;
};

}  // namespace e2e
