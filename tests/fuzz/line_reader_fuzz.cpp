// The line reader and the AT answer handling on an in-memory port: whatever a modem sends, every
// dialogue ends within its window (plus one character time-out for a line in progress), leaves
// the port as it found it, and never reads or writes out of bounds.
//
// Input: the modem's bytes, as they arrive. A byte 0xFF followed by n is a pause of n x 20 ms on
// the virtual clock (0xFF 0xFF is a 0xFF byte), so time-outs in the middle of lines are tried too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>

#include "config/firmware_config.h"
#include "link/modem_probe.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/serial_device.h"

namespace {

constexpr uint8_t PauseMark = 0xFF;
constexpr uint32_t PauseUnitMs = 20;
// What each dialogue may take at most, whatever the modem sends: its windows, each with one
// character time-out to finish a line in progress.
constexpr uint32_t LineLoopLimitMs = 8 * (1000 + LineFinishMs) + AtfCharTimeoutMs;
constexpr uint32_t WaitForOkLimitMs = WaitForOkMs + LineFinishMs;
constexpr uint32_t DrainLimitMs = DrainInputMs + LineFinishMs;
constexpr uint32_t ProbeLimitMs = WaitForOkLimitMs + (Ati9WindowMs + LineFinishMs) +
                                  (Ati9AnswerTailMs + LineFinishMs) + LateAnswerListenMs +
                                  (Ati1WindowMs + LineFinishMs) +
                                  (KernelFollowUpWindowMs + LineFinishMs) * 2 +
                                  (Ati1FollowUpWindowMs + LineFinishMs) + (AtfWindowMs + AtfCharTimeoutMs);

struct Arrival {
    uint32_t at;
    uint8_t byte;
};

// The modem side: bytes that arrive at their time on the virtual clock; writes are swallowed.
class FuzzPort : public platform::PortDevice {
public:
    explicit FuzzPort(std::deque<Arrival> input) : input_(std::move(input)) {}

    int read(uint8_t* buf, int n) override
    {
        int got = 0;
        while (got < n && !input_.empty() && input_.front().at <= platform::tickCount()) {
            buf[got++] = input_.front().byte;
            input_.pop_front();
        }
        return got;
    }
    int write(const uint8_t*, int n) override { return n; }
    void purge() override
    {
        while (!input_.empty() && input_.front().at <= platform::tickCount()) {
            input_.pop_front();
        }
    }
    bool waitReadable(uint32_t timeoutMs) override
    {
        uint32_t now = platform::tickCount();
        if (!input_.empty() && input_.front().at <= now) {
            return true;
        }
        uint32_t until = input_.empty() ? now + timeoutMs : input_.front().at;
        uint32_t wait = until - now < timeoutMs ? until - now : timeoutMs;
        platform::sleepMs(wait);
        return wait < timeoutMs;
    }
    void lowerDtr() override {}

private:
    std::deque<Arrival> input_;
};

std::deque<Arrival> arrivals(const uint8_t* data, size_t size, uint32_t start)
{
    std::deque<Arrival> out;
    uint32_t at = start;
    for (size_t i = 0; i < size; ++i) {
        uint8_t byte = data[i];
        if (byte == PauseMark && i + 1 < size) {
            uint8_t next = data[++i];
            if (next != PauseMark) {
                at += next * PauseUnitMs;
                continue;
            }
        }
        out.push_back({at, byte});
    }
    return out;
}

// Runs one dialogue against a fresh port holding the input; aborts when it overran its time.
template <class Dialogue>
void against(const uint8_t* data, size_t size, uint32_t limitMs, Dialogue dialogue)
{
    std::deque<Arrival> input = arrivals(data, size, platform::tickCount());
    platform::setPortOpener([&input](const std::string&, uint32_t) { return std::make_unique<FuzzPort>(input); });
    platform::Ticks start = platform::tickCount();
    dialogue();
    if (platform::elapsedSince(start) > limitMs) {
        std::abort();
    }
    if (platform::openDeviceCount() != 0) {
        std::abort();  // a dialogue left its port open
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    platform::ScopedVirtualClock clock;
    FirmwareConfig.ATI9_key_string = "KOR";
    FirmwareConfig.ATI1_key_string = "Nelta 56K";
    FirmwareConfig.Firmware_check_version_VER = "1.00";

    auto onPort = [](auto step) {
        return [step] {
            SerialPort port = openPort("COM3", DefaultSpeedCode);
            if (port == NoPort) {
                std::abort();
            }
            step(port);
            closePort(port);
        };
    };
    against(data, size, LineLoopLimitMs, onPort([](SerialPort port) {
        char line[100];
        for (int i = 0; i < 8; ++i) {
            readLineWithin(port, line, sizeof line, LineCharTimeoutMs, platform::tickCount(), 1000);
        }
        readLine(port, line, 5, AtfCharTimeoutMs);
    }));
    against(data, size, WaitForOkLimitMs, onPort([](SerialPort port) { waitForOk(port); }));
    against(data, size, DrainLimitMs, onPort([](SerialPort port) { drainInput(port); }));
    against(data, size, ProbeLimitMs, [] {
        ModemIdentity identity;
        resetIdentity(identity);
        identity.portName = "COM3";
        identity.speedCode = DefaultSpeedCode;
        ProbeReport report;
        SerialPort port = probePort(identity, DefaultSpeedCode, &report);
        if (port != NoPort) {
            kernelFollowUp(port, identity.flags);
            ati1FollowUp(port, identity.flags);
            closePort(port);
        }
    });
    platform::setPortOpener(nullptr);
    return 0;
}
