// COM ports on Windows: \\.\COMn opened exclusively and synchronously, 8N1 at the speed asked
// for. Reads take what has arrived and never wait; a wait for input is one ReadFile in the mode
// Windows has for it (return with the first byte, or after the time-out), whose bytes are kept in
// a buffer that the next reads empty first and a purge discards. Writes give up after the same
// stall as on every other host, so a modem pulled out never hangs a worker.
#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/com_port_name.h"
#include "platform/serial_device.h"

namespace platform {

namespace {

// The device namespace reaches every COM port; plain "COM10" and above would name files.
constexpr const char* DevicePrefix = "\\\\.\\COM";

// How long a write may make no progress before it gives up with what was accepted (as on Linux).
constexpr DWORD WriteStallMs = 2000;
// Bytes one wait for input takes into the buffer at most; the rest stay in the driver.
constexpr DWORD WaitReadChunk = 4096;
// Polling step for a driver that refuses the wait mode of SetCommTimeouts.
constexpr DWORD WaitPollStepMs = 1;

DWORD baudFor(uint32_t baud)
{
    switch (baud) {
    case 9600:
    case 19200:
    case 38400:
    case 57600: return baud;
    default: return CBR_115200;
    }
}

// A read returns at once with what has arrived, possibly nothing.
COMMTIMEOUTS immediateReads()
{
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.WriteTotalTimeoutConstant = WriteStallMs;
    return t;
}

// A read returns at once when bytes have arrived, else with the first byte, else after waitMs.
COMMTIMEOUTS firstByteWithin(DWORD waitMs)
{
    COMMTIMEOUTS t = immediateReads();
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = waitMs;
    return t;
}

bool sameTimeouts(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class CommPort : public PortDevice {
public:
    CommPort(HANDLE handle, const COMMTIMEOUTS& timeouts) : handle_(handle), timeouts_(timeouts) {}
    ~CommPort() override { CloseHandle(handle_); }

    int read(uint8_t* buf, int n) override
    {
        int taken = takeWaiting(buf, n);
        if (taken == n || gone_) {
            return taken > 0 ? taken : (gone_ ? -1 : 0);
        }
        if (!useTimeouts(immediateReads())) {
            return taken;
        }
        DWORD got = 0;
        BOOL ok = ReadFile(handle_, buf + taken, static_cast<DWORD>(n - taken), &got, nullptr);
        if (!ok) {
            // The device has gone (a USB modem pulled out): bytes that came before still count.
            gone_ = true;
        }
        taken += static_cast<int>(got);
        return taken > 0 ? taken : (ok ? 0 : -1);
    }

    int write(const uint8_t* buf, int n) override
    {
        if (gone_) {
            return -1;
        }
        int done = 0;
        while (done < n) {
            DWORD put = 0;
            BOOL ok = WriteFile(handle_, buf + done, static_cast<DWORD>(n - done), &put, nullptr);
            done += static_cast<int>(put);
            if (!ok) {
                gone_ = true;
                break;
            }
            if (put == 0) {
                break;  // nothing accepted for WriteStallMs
            }
        }
        return done > 0 ? done : -1;
    }

    void purge() override
    {
        PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR);
        waiting_.clear();
        waitingAt_ = 0;
    }

    bool waitReadable(uint32_t timeoutMs) override
    {
        if (waitingAt_ < waiting_.size()) {
            return true;
        }
        if (gone_) {
            // A device that has gone answers every read with a failure; a wait on it runs out
            // its time like a wait on silence, without spinning.
            sleepMs(timeoutMs);
            return false;
        }
        if (timeoutMs == 0 || !useTimeouts(firstByteWithin(timeoutMs))) {
            return pollReadable(timeoutMs);
        }
        return fillWaiting();
    }

    void lowerDtr() override
    {
        // A port without modem lines (a pseudo-terminal under Wine, some USB adapters) refuses;
        // there is nothing to lower there.
        EscapeCommFunction(handle_, CLRDTR);
    }

private:
    // Copies bytes a wait took in; the count.
    int takeWaiting(uint8_t* buf, int n)
    {
        size_t count = waiting_.size() - waitingAt_;
        if (count > static_cast<size_t>(n)) {
            count = static_cast<size_t>(n);
        }
        if (count > 0) {
            std::memcpy(buf, waiting_.data() + waitingAt_, count);
            waitingAt_ += count;
        }
        if (waitingAt_ == waiting_.size()) {
            waiting_.clear();
            waitingAt_ = 0;
        }
        return static_cast<int>(count);
    }

    // One ReadFile into the buffer under the time-outs in force. True when a read is worth
    // trying: bytes came, or the device failed (the read then reports it).
    bool fillWaiting()
    {
        waiting_.resize(WaitReadChunk);
        DWORD got = 0;
        BOOL ok = ReadFile(handle_, waiting_.data(), WaitReadChunk, &got, nullptr);
        waiting_.resize(got);
        waitingAt_ = 0;
        if (!ok) {
            gone_ = true;
            return true;
        }
        return got > 0;
    }

    bool pollReadable(uint32_t timeoutMs)
    {
        const Ticks start = tickCount();
        for (;;) {
            if (!useTimeouts(immediateReads()) || fillWaiting()) {
                return true;
            }
            if (elapsedSince(start) >= timeoutMs) {
                return false;
            }
            Sleep(WaitPollStepMs);
        }
    }

    // Puts the time-outs in force when they differ from the last ones set.
    bool useTimeouts(COMMTIMEOUTS wanted)
    {
        if (sameTimeouts(wanted, timeouts_)) {
            return true;
        }
        if (!SetCommTimeouts(handle_, &wanted)) {
            return false;
        }
        timeouts_ = wanted;
        return true;
    }

    HANDLE handle_;
    COMMTIMEOUTS timeouts_;
    std::vector<uint8_t> waiting_;  // bytes a wait took in, from waitingAt_ on not yet read
    size_t waitingAt_ = 0;
    bool gone_ = false;
};

}  // namespace

std::unique_ptr<PortDevice> openSystemPort(const std::string& portName, uint32_t baud)
{
    const int number = comPortNumber(portName);
    if (number == 0) {
        return nullptr;
    }
    const std::string device = DevicePrefix + std::to_string(number);
    // No sharing: a port another program holds cannot be had, nor can this one while held.
    HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    COMMTIMEOUTS timeouts = immediateReads();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!SetCommTimeouts(handle, &timeouts) || !GetCommState(handle, &dcb)) {
        CloseHandle(handle);
        return nullptr;
    }
    // Hardware flow control stays as the driver reports it; everything else is a raw 8N1 line
    // that never stops reading after a line error.
    dcb.BaudRate = baudFor(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handle, &dcb)) {
        CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<CommPort>(handle, timeouts);
}

}  // namespace platform
