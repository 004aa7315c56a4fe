// usbsim driven from a test: the program under a host folder with its commands on a pipe and
// its answers read line by line, and a listener bound where the station would bind to receive
// the device-notification datagrams.
//
// Results: an empty text when an answer or datagram did not come in time.
// Thread rule: test thread only.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <string>

#include "support/e2e_support.h"

namespace e2e {

constexpr uint32_t UsbSimAnswerLimitMs = 10000;
constexpr const char* GoneLinePrefix = "gone ";  // a modem that pulled itself out

std::string usbsimExecutable();

class UsbSim {
public:
    explicit UsbSim(const std::string& hostDir);
    ~UsbSim();  // quit (every modem pulled), then waits for the program to end
    UsbSim(const UsbSim&) = delete;
    UsbSim& operator=(const UsbSim&) = delete;

    bool started() const { return pid_ > 0; }
    // Sends one command line and gives the answer line (without its line end).
    std::string command(const std::string& line, uint32_t limitMs = UsbSimAnswerLimitMs);
    // The next line it prints on its own ("gone COM3"), also one that came while a command
    // waited for its answer.
    std::string nextLine(uint32_t limitMs = UsbSimAnswerLimitMs);
    std::string err() const { return readFile(errPath_); }
    // Ends the program (quit, or a signal when sig is non-zero) and gives its exit status.
    int finish(int sig = 0);

private:
    std::string readLine(uint32_t limitMs);

    TempDir files_;
    std::string errPath_;
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string pending_;
    std::deque<std::string> unprompted_;  // lines printed on their own while a command waited
};

// A datagram socket bound at $host/devnotify, as a registered station holds it.
class DevNotifyListener {
public:
    explicit DevNotifyListener(const std::string& hostDir);
    ~DevNotifyListener();
    DevNotifyListener(const DevNotifyListener&) = delete;
    DevNotifyListener& operator=(const DevNotifyListener&) = delete;

    bool bound() const { return fd_ >= 0; }
    std::string next(uint32_t limitMs = UsbSimAnswerLimitMs);

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace e2e
