// A COM port for tests: bytes scheduled to arrive at given ticks of the clock in force, a record
// of everything written and when, and an optional responder that schedules answers to writes.
// Installed under a port name with ScriptedPorts, which replaces the port opener for its life.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_device.h"
#include "platform/threads.h"

namespace testing_support {

struct ScriptedLine {
    std::string bytes;
    uint32_t writeTick;
};

class ScriptedPort {
public:
    // Bytes that arrive, one at a time, from `at` on (all at once when gapMs is 0).
    void arriveAt(uint32_t at, const std::string& bytes, uint32_t gapMs = 0);
    // Bytes that arrive delayMs after now.
    void arriveIn(uint32_t delayMs, const std::string& bytes, uint32_t gapMs = 0);
    // Called with each write; may schedule answers.
    std::function<void(ScriptedPort&, const std::string& written)> onWrite;

    std::string written() const;
    std::vector<ScriptedLine> writes() const;
    int purges() const;
    int dtrDrops() const;
    size_t pendingBytes() const;
    bool isOpen() const;
    void setGone(bool gone);

    // The device side, used by the opener.
    int read(uint8_t* buf, int n);
    int write(const uint8_t* buf, int n);
    void purge();
    bool waitReadable(uint32_t timeoutMs);
    void lowerDtr();
    void setOpen(bool open);

private:
    struct Pending {
        uint32_t at;
        uint8_t byte;
    };
    mutable platform::RecursiveMutex mutex_;
    std::deque<Pending> input_;
    std::vector<ScriptedLine> writes_;
    int purges_ = 0;
    int dtrDrops_ = 0;
    bool open_ = false;
    bool gone_ = false;
};

class ScriptedPorts {
public:
    ScriptedPorts();
    ~ScriptedPorts();
    ScriptedPorts(const ScriptedPorts&) = delete;
    ScriptedPorts& operator=(const ScriptedPorts&) = delete;

    ScriptedPort& add(const std::string& portName);
    uint32_t lastBaud() const { return lastBaud_; }

private:
    std::map<std::string, std::shared_ptr<ScriptedPort>> ports_;
    uint32_t lastBaud_ = 0;
};

}  // namespace testing_support
