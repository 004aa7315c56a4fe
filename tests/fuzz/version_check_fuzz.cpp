// The firmware-version check on any answer: it ends within its windows, and it passes exactly
// when a version word of the answer compares as configured with the bound.
//
// Input: the bound up to the first newline (its first byte's low bit picks "at most" or
// "above"), then the modem's answer to ATI1, all of it waiting at once.
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

class AnswerPort : public platform::PortDevice {
public:
    explicit AnswerPort(std::string answer) : answer_(std::move(answer)) {}

    int read(uint8_t* buf, int n) override
    {
        // The check drains 3 s of talk first: the answer comes after the command.
        if (!commanded_) {
            return 0;
        }
        int got = 0;
        while (got < n && next_ < answer_.size()) {
            buf[got++] = static_cast<uint8_t>(answer_[next_++]);
        }
        return got;
    }
    int write(const uint8_t* buf, int n) override
    {
        commanded_ = commanded_ || (n > 0 && buf[0] == 'A');
        return n;
    }
    void purge() override {}
    bool waitReadable(uint32_t timeoutMs) override
    {
        if (commanded_ && next_ < answer_.size()) {
            return true;
        }
        platform::sleepMs(timeoutMs);
        return false;
    }
    void lowerDtr() override {}

private:
    std::string answer_;
    size_t next_ = 0;
    bool commanded_ = false;
};

constexpr uint32_t CheckLimitMs = DrainInputMs + LineFinishMs + VersionWindowMs + LineFinishMs;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    if (newline == std::string::npos) {
        return 0;
    }
    platform::ScopedVirtualClock clock;
    FirmwareConfig.Firmware_check_version_VER = input.substr(0, newline);
    FirmwareConfig.Firmware_check_version_LE = newline > 0 && (data[0] & 1) != 0;
    std::string answer = input.substr(newline + 1);
    platform::setPortOpener([&answer](const std::string&, uint32_t) { return std::make_unique<AnswerPort>(answer); });

    SerialPort port = openPort("COM3", DefaultSpeedCode);
    platform::Ticks start = platform::tickCount();
    std::string version;
    bool passed = checkFirmwareVersion(port, &version);
    if (platform::elapsedSince(start) > CheckLimitMs) {
        std::abort();
    }
    // A pass always names the version that passed, and it is a word of the answer.
    if (passed && (version.empty() || version.find('.') == std::string::npos)) {
        std::abort();
    }
    closePort(port);
    platform::setPortOpener(nullptr);
    return 0;
}
