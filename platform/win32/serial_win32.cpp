// COM ports on Windows: \\.\COMn opened exclusively and synchronously, 8N1 at the speed asked
// for. Reads take what has arrived and never wait. A wait for input polls with reads that return
// at once, a millisecond apart; the bytes such a read brings are kept in a buffer that the next
// reads empty first and a purge discards. (The time-out mode that returns with the first byte,
// ReadIntervalTimeout and ReadTotalTimeoutMultiplier both MAXDWORD, is not used: Wine waits out
// the whole constant in it even when bytes arrive, which made every answer late.) Writes give up
// after the same stall as on every other host, so a modem pulled out never hangs a worker.
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
// Pause between two looks for input while waiting (1 ms once the worker asked for a 1 ms timer;
// one scheduler tick, 10 to 16 ms, otherwise).
constexpr uint32_t WaitPollStepMs = 1;

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

// A read returns at once with what has arrived, possibly nothing; a write gives up after
// WriteStallMs with what was accepted.
COMMTIMEOUTS immediateReads()
{
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.WriteTotalTimeoutConstant = WriteStallMs;
    return t;
}

class CommPort : public PortDevice {
public:
    explicit CommPort(HANDLE handle) : handle_(handle) {}
    ~CommPort() override { CloseHandle(handle_); }

    int read(uint8_t* buf, int n) override
    {
        int taken = takeWaiting(buf, n);
        if (taken == n || gone_) {
            return taken > 0 ? taken : (gone_ ? -1 : 0);
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
        // Real time, as a wait in the OS would be, whatever clock the program's time-outs use.
        const DWORD start = GetTickCount();
        for (;;) {
            if (fillWaiting()) {
                return true;
            }
            uint32_t spent = GetTickCount() - start;
            if (spent >= timeoutMs) {
                return false;
            }
            uint32_t left = timeoutMs - spent;
            Sleep(left < WaitPollStepMs ? left : WaitPollStepMs);
        }
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

    // One ReadFile into the buffer, returning at once. True when a read is worth trying: bytes
    // came, or the device failed (the read then reports it).
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

    HANDLE handle_;
    std::vector<uint8_t> waiting_;  // bytes a wait took in, from waitingAt_ on not yet read
    size_t waitingAt_ = 0;
    bool gone_ = false;
};

}  // namespace

bool systemPortExists(const std::string& portName)
{
    const int number = comPortNumber(portName);
    if (number == 0) {
        return false;
    }
    // QueryDosDeviceA is the NT family's; it is looked up, not imported, so that no Windows of
    // the 9x family is asked to load it.
    using QueryCall = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);
    static const auto queryDosDevice = reinterpret_cast<QueryCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryDosDeviceA")));
    char target[MAX_PATH];
    if (queryDosDevice && queryDosDevice(comPortName(number).c_str(), target, sizeof target) != 0) {
        return true;
    }
    // No DOS device name: the 9x family has none to ask, and a port can open without one (Wine's
    // dosdevices links). A port is there when opening it does not say "not found" (held by
    // another program counts as there), so this agrees with what opening the port finds.
    const std::string device = DevicePrefix + std::to_string(number);
    HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return true;
    }
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

std::string systemPortLocation(const std::string& portName)
{
    const int number = comPortNumber(portName);
    return number == 0 ? std::string() : DevicePrefix + std::to_string(number);
}

std::string portEntriesAdvice()
{
    return "COM ports are the ones Windows lists in the Device Manager under \"Ports (COM & LPT)\"";
}

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
    return std::make_unique<CommPort>(handle);
}

}  // namespace platform
