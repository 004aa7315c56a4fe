#include "link/serial_link.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "platform/serial_device.h"

namespace {

thread_local const std::atomic<int32_t>* stopFlag = nullptr;
thread_local ScopedWaitWatch* waitWatch = nullptr;

// Waits are cut into slices when something may want them to end early.
bool waitsAreWatched() { return stopFlag != nullptr || waitWatch != nullptr; }

constexpr const char* PingCommand = "AT\r";
constexpr const char* OkMarker = "OK";
constexpr const char* ErrorMarker = "ERROR";

}  // namespace

ScopedWaitAbort::ScopedWaitAbort(const std::atomic<int32_t>& keepRunning) : previous_(stopFlag)
{
    stopFlag = &keepRunning;
}

ScopedWaitAbort::~ScopedWaitAbort() { stopFlag = previous_; }

ScopedWaitWatch::ScopedWaitWatch(std::function<bool()> stillWanted)
    : stillWanted_(std::move(stillWanted)), previous_(waitWatch)
{
    waitWatch = this;
}

ScopedWaitWatch::~ScopedWaitWatch() { waitWatch = previous_; }

bool waitAborted()
{
    if (stopFlag && stopFlag->load(std::memory_order_relaxed) == 0) {
        return true;
    }
    ScopedWaitWatch* watch = waitWatch;
    if (watch == nullptr) {
        return false;
    }
    if (!watch->givenUp_ && watch->stillWanted_) {
        // Whatever it does (a message pump) must not see this watch ask again from inside.
        waitWatch = nullptr;
        bool wanted = watch->stillWanted_();
        waitWatch = watch;
        watch->givenUp_ = !wanted;
    }
    return watch->givenUp_;
}

void pauseMs(uint32_t ms)
{
    if (!waitsAreWatched()) {
        platform::sleepMs(ms);
        return;
    }
    platform::Ticks start = platform::tickCount();
    for (;;) {
        uint32_t elapsed = platform::elapsedSince(start);
        if (elapsed >= ms || waitAborted()) {
            return;
        }
        uint32_t slice = ms - elapsed;
        platform::sleepMs(slice < WaitAbortSliceMs ? slice : WaitAbortSliceMs);
    }
}

uint32_t baudForSpeedCode(int32_t speedCode)
{
    switch (speedCode) {
    case SpeedCode57600: return 57600;
    case SpeedCode38400: return 38400;
    case SpeedCode19200: return 19200;
    case SpeedCode9600: return 9600;
    default: return 115200;  // SpeedCode115200 and every code not named
    }
}

SerialPort openPort(const std::string& portName, int32_t speedCode)
{
    return platform::openDevice(portName, baudForSpeedCode(speedCode));
}

void closePort(SerialPort port)
{
    if (auto device = platform::deviceFor(port)) {
        device->lowerDtr();
    }
    platform::closeDevice(port);
}

void purgePort(SerialPort port)
{
    if (auto device = platform::deviceFor(port)) {
        device->purge();
    }
}

int32_t readBytes(SerialPort port, void* buffer, int32_t count)
{
    auto device = platform::deviceFor(port);
    if (!device || !buffer || count < 0) {
        return -1;
    }
    return device->read(static_cast<uint8_t*>(buffer), count);
}

int32_t writeBytes(SerialPort port, const void* bytes, int32_t count)
{
    auto device = platform::deviceFor(port);
    if (!device || !bytes || count < 0) {
        return -1;
    }
    if (count == 0) {
        return 0;
    }
    return device->write(static_cast<const uint8_t*>(bytes), count);
}

void writeText(SerialPort port, const char* text)
{
    writeBytes(port, text, static_cast<int32_t>(std::strlen(text)));
}

bool waitForInput(SerialPort port, uint32_t timeoutMs)
{
    auto device = platform::deviceFor(port);
    if (!device) {
        // No such port: nothing will ever arrive, so the wait runs out like silence.
        pauseMs(timeoutMs);
        return false;
    }
    if (!waitsAreWatched()) {
        return device->waitReadable(timeoutMs);
    }
    platform::Ticks start = platform::tickCount();
    for (;;) {
        if (waitAborted()) {
            return false;
        }
        uint32_t elapsed = platform::elapsedSince(start);
        if (elapsed >= timeoutMs) {
            return false;
        }
        uint32_t slice = timeoutMs - elapsed;
        if (device->waitReadable(slice < WaitAbortSliceMs ? slice : WaitAbortSliceMs)) {
            return true;
        }
    }
}

namespace {

// Waits until a byte arrives, timeoutMs have passed since `since`, or the line's own deadline
// (deadlineMs after deadlineStart) has come; the byte, -1 on the time-out, -2 at the deadline.
int nextByte(SerialPort port, platform::Ticks since, uint32_t timeoutMs, platform::Ticks deadlineStart,
             uint64_t deadlineMs)
{
    for (;;) {
        uint8_t byte = 0;
        if (readBytes(port, &byte, 1) == 1) {
            return byte;
        }
        uint32_t elapsed = platform::elapsedSince(since);
        if (elapsed >= timeoutMs || waitAborted()) {
            return -1;
        }
        uint64_t sinceDeadlineStart = platform::elapsedSince(deadlineStart);
        if (sinceDeadlineStart >= deadlineMs) {
            return -2;
        }
        uint64_t wait = std::min<uint64_t>(timeoutMs - elapsed, deadlineMs - sinceDeadlineStart);
        waitForInput(port, static_cast<uint32_t>(wait));
    }
}

int readLineUntil(SerialPort port, char* buffer, int32_t capacity, uint32_t charTimeoutMs,
                  platform::Ticks deadlineStart, uint64_t deadlineMs)
{
    if (!buffer) {
        return 0;
    }
    buffer[0] = '\0';
    if (capacity <= 4) {
        return 0;
    }
    uint8_t byte = 0;
    if (readBytes(port, &byte, 1) != 1) {
        return 0;
    }
    if (byte == static_cast<uint8_t>(Dle)) {
        // A DLE shielded code: only DLE h is kept (as a two-byte line); the byte after DLE is
        // consumed in every case.
        uint8_t code = 0;
        if (readBytes(port, &code, 1) == 1 && (code == 'h' || code == 'H')) {
            buffer[0] = Dle;
            buffer[1] = static_cast<char>(code);
            buffer[2] = '\0';
        }
        return 1;
    }
    if (byte == static_cast<uint8_t>(Lf) || byte == static_cast<uint8_t>(Cr)) {
        return 0;
    }
    int32_t stored = 0;
    int current = byte;
    for (;;) {
        if (current == Lf) {
            break;
        }
        if (stored == capacity - 1) {
            break;  // the byte in hand is lost, as the line buffer is full
        }
        buffer[stored++] = static_cast<char>(current);
        current = nextByte(port, platform::tickCount(), charTimeoutMs, deadlineStart, deadlineMs);
        if (current == -2) {
            // Still dripping at the deadline: the line counts as not received.
            buffer[0] = '\0';
            return 0;
        }
        if (current < 0 || current == Cr) {
            break;
        }
    }
    buffer[stored] = '\0';
    return 1;
}

// Loops that read lines until their own deadline: when nothing is waiting, block until input or
// the deadline instead of asking again at once.
void idleUntilInput(SerialPort port, platform::Ticks start, uint32_t limitMs)
{
    uint32_t elapsed = platform::elapsedSince(start);
    if (elapsed < limitMs) {
        waitForInput(port, limitMs - elapsed);
    }
}

}  // namespace

int readLine(SerialPort port, char* buffer, int32_t capacity, uint32_t charTimeoutMs)
{
    return readLineUntil(port, buffer, capacity, charTimeoutMs, platform::tickCount(), UINT64_MAX);
}

int readLineWithin(SerialPort port, char* buffer, int32_t capacity, uint32_t charTimeoutMs,
                   platform::Ticks windowStart, uint32_t windowMs)
{
    return readLineUntil(port, buffer, capacity, charTimeoutMs, windowStart,
                         static_cast<uint64_t>(windowMs) + LineFinishMs);
}

bool waitForOk(SerialPort port) { return waitForOk(port, nullptr); }

bool waitForOk(SerialPort port, std::string* answer)
{
    char line[WaitForOkLineCapacity];
    if (answer) {
        answer->clear();
    }
    platform::Ticks start = platform::tickCount();
    while (platform::elapsedSince(start) < WaitForOkMs && !waitAborted()) {
        if (readLineWithin(port, line, sizeof line, LineCharTimeoutMs, start, WaitForOkMs) == 0) {
            idleUntilInput(port, start, WaitForOkMs);
            continue;
        }
        if (answer && line[0] != '\0') {
            *answer = line;
        }
        if (std::strstr(line, OkMarker)) {
            return true;
        }
        if (std::strstr(line, ErrorMarker)) {
            return false;
        }
    }
    return false;
}

void drainInput(SerialPort port)
{
    if (port == NoPort) {
        return;
    }
    char line[DrainInputLineCapacity];
    platform::Ticks start = platform::tickCount();
    while (platform::elapsedSince(start) < DrainInputMs && !waitAborted()) {
        if (readLineWithin(port, line, sizeof line, LineCharTimeoutMs, start, DrainInputMs) == 0) {
            idleUntilInput(port, start, DrainInputMs);
        }
    }
}

bool pingModem(SerialPort port, uint32_t limitMs)
{
    platform::Ticks start = platform::tickCount();
    for (;;) {
        if (platform::elapsedSince(start) >= limitMs || waitAborted()) {
            purgePort(port);
            return false;
        }
        purgePort(port);
        writeText(port, PingCommand);
        if (waitForOk(port)) {
            purgePort(port);
            return true;
        }
        pauseMs(PingRetryPauseMs);
    }
}
