// The serial port link: COM ports opened by name at a speed code, raw byte reads and writes, a
// line reader shaped for AT-command answers, and the three small AT routines (wait for "OK",
// drain pending answers, ping until the modem answers).
//
// Results: openPort gives a SerialPort or -1; readBytes/writeBytes a count or -1; the rest as
// noted. Every wait measures elapsed time as the unsigned 32-bit difference of platform ticks and
// tests its time-out before each line or byte is read, so a line being read is finished first.
// Waits block in the OS (the device's waitReadable) for the remaining time instead of spinning.
// Thread rule: synchronous, on the calling thread; one port is used by one thread at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

using SerialPort = int32_t;
constexpr SerialPort NoPort = -1;

// Speed codes for openPort, one per line speed; every caller in the system passes
// DefaultSpeedCode, and a code not named here opens at 115200 baud as well.
constexpr int32_t SpeedCode115200 = 102;
constexpr int32_t SpeedCode57600 = 103;
constexpr int32_t SpeedCode38400 = 104;
constexpr int32_t SpeedCode19200 = 105;
constexpr int32_t SpeedCode9600 = 106;
constexpr int32_t DefaultSpeedCode = SpeedCode115200;
uint32_t baudForSpeedCode(int32_t speedCode);

// Control characters of the AT dialogue.
constexpr char Dle = 0x10;
constexpr char Lf = 0x0A;
constexpr char Cr = 0x0D;

// Inter-character time-outs of readLine.
constexpr uint32_t LineCharTimeoutMs = 3000;
constexpr uint32_t AtfCharTimeoutMs = 2000;  // the answer to "ATF\r"

constexpr uint32_t WaitForOkMs = 5000;
constexpr int32_t WaitForOkLineCapacity = 100;
constexpr uint32_t DrainInputMs = 3000;
constexpr int32_t DrainInputLineCapacity = 500;
constexpr uint32_t PingRetryPauseMs = 1000;

SerialPort openPort(const std::string& portName, int32_t speedCode);
// Lowers DTR, then closes. Never called with -1.
void closePort(SerialPort port);
void purgePort(SerialPort port);
int32_t readBytes(SerialPort port, void* buffer, int32_t count);
int32_t writeBytes(SerialPort port, const void* bytes, int32_t count);
// Writes a whole zero-terminated command; the result is not looked at by the AT dialogues.
void writeText(SerialPort port, const char* text);

// Blocks until a byte may be read on the port or timeoutMs passed (the blocking replacement of a
// spin on readBytes). False on time-out; a port that is gone makes it wait out its time.
bool waitForInput(SerialPort port, uint32_t timeoutMs);

// 1 when a line (possibly empty) was taken, 0 when none; buffer always zero-terminated.
int readLine(SerialPort port, char* buffer, int32_t capacity, uint32_t charTimeoutMs);

// readLine for a wait with a window of windowMs from windowStart. A line that has started is
// still finished first, but a modem dripping a byte just inside every character time-out could
// otherwise hold the wait for hours: finishing may take at most LineFinishMs beyond the window,
// after which the line counts as not received (0, buffer empty). Every wait of the link, the
// probe and the upload engine reads its lines this way.
constexpr uint32_t LineFinishMs = LineCharTimeoutMs;
int readLineWithin(SerialPort port, char* buffer, int32_t capacity, uint32_t charTimeoutMs,
                   uint32_t windowStart, uint32_t windowMs);
bool waitForOk(SerialPort port);
// The same, leaving in answer the last non-empty line it read (the "ERROR" line, the echo, ...;
// empty when nothing came), for saying why a command failed.
bool waitForOk(SerialPort port, std::string* answer);
void drainInput(SerialPort port);
bool pingModem(SerialPort port, uint32_t limitMs);

// A worker's stop request reaches into the link's waits: while a ScopedWaitAbort is alive on a
// thread, every wait of that thread (waitForInput, and so readLine, waitForOk, drainInput,
// pingModem, and pauseMs) ends early, as a time-out would, once keepRunning reads 0. Waits
// are then taken in slices of at most WaitAbortSliceMs so a stop is seen within that time.
constexpr uint32_t WaitAbortSliceMs = 100;

class ScopedWaitAbort {
public:
    explicit ScopedWaitAbort(const std::atomic<int32_t>& keepRunning);
    ~ScopedWaitAbort();
    ScopedWaitAbort(const ScopedWaitAbort&) = delete;
    ScopedWaitAbort& operator=(const ScopedWaitAbort&) = delete;

private:
    const std::atomic<int32_t>* previous_;
};

// The same for a caller on a thread that has no worker's flag but must stay responsive (the modem
// search on the UI thread): while a ScopedWaitWatch is alive, the waits of that thread are taken
// in slices of at most WaitAbortSliceMs and call stillWanted between them; once it answers false,
// this and every later wait of the scope end at once, as a time-out would. stillWanted may pump
// the window system's messages; it decides itself how often that is worth doing.
class ScopedWaitWatch {
public:
    explicit ScopedWaitWatch(std::function<bool()> stillWanted);
    ~ScopedWaitWatch();
    ScopedWaitWatch(const ScopedWaitWatch&) = delete;
    ScopedWaitWatch& operator=(const ScopedWaitWatch&) = delete;

    bool givenUp() const { return givenUp_; }

private:
    friend bool waitAborted();
    std::function<bool()> stillWanted_;
    ScopedWaitWatch* previous_;
    bool givenUp_ = false;
};

// True when this thread's stop request (ScopedWaitAbort) has been made, or its ScopedWaitWatch
// has given up.
bool waitAborted();
// Sleep that ends early when this thread's stop request is made.
void pauseMs(uint32_t ms);
