#include "link/modem_probe.h"

#include <cctype>
#include <initializer_list>

#include "config/firmware_config.h"
#include "platform/clock.h"

namespace {

constexpr const char* EchoSetupCommand = "ATE1Q0V1\r";
constexpr const char* Ati9Command = "ATI9\r";
constexpr const char* Ati1Command = "ATI1\r";
constexpr const char* AtfCommand = "ATF\r";
constexpr const char* AtvCommand = "ATV\r";

constexpr const char* KernelMarker = "KERNEL";
constexpr const char* Ati9Echo = "ATI9";  // the modem's echo of the command, upper-cased
constexpr const char* Ati1Echo = "ATI1";
constexpr const char* OkMarker = "OK";
constexpr const char* ErrorMarker = "ERROR";
constexpr const char* Rk420Marker = "RK420";
constexpr const char* PlainModemMarkers[] = {"MODEM", "RK410"};
constexpr const char* TerminalAdapterMarker = "ARVEN-TA";
constexpr const char* TerminalAdapterAnswers[] = {"ARVEN.NET LCD"};
constexpr const char* NetAdapterMarker = "ARVEN.NET";
constexpr const char* NetAdapterAnswers[] = {"2.03B", "ARVEN.NET-4M", "ARVEN.NET INTERNAL-4M", "ARVEN.NET DATA",
                                             "ARVEN.NET DATA INTERNAL"};

constexpr const char* WhiteSpace = " \t\r\n\v\f";

std::string upper(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

bool holds(const std::string& line, const std::string& marker) { return line.find(marker) != std::string::npos; }

bool holdsAny(const std::string& line, std::initializer_list<const char*> markers)
{
    for (const char* m : markers) {
        if (holds(line, m)) {
            return true;
        }
    }
    return false;
}

template <size_t N>
bool holdsAny(const std::string& line, const char* const (&markers)[N])
{
    for (const char* m : markers) {
        if (holds(line, m)) {
            return true;
        }
    }
    return false;
}

bool endsAnswer(const std::string& line) { return holdsAny(line, {OkMarker, ErrorMarker}); }

// A dialogue's window: open until its time is up or the caller's waits have been called off
// (a worker's stop, the search's Cancel), after which every wait ends at once and a loop that
// only watched the time would go round without end.
bool windowOpen(platform::Ticks start, uint32_t windowMs)
{
    return platform::elapsedSince(start) < windowMs && !waitAborted();
}

// One upper-cased answer line, or false when none was taken. When nothing is waiting the call
// blocks until input arrives or the dialogue's own window closes, so the loops never spin; the
// window itself is still tested by the caller before each line.
bool nextLine(SerialPort port, platform::Ticks start, uint32_t windowMs, int32_t capacity, uint32_t charTimeoutMs,
              std::string& line, std::string* raw = nullptr)
{
    std::string buffer(static_cast<size_t>(capacity), '\0');
    if (readLineWithin(port, buffer.data(), capacity, charTimeoutMs, start, windowMs) == 0) {
        uint32_t elapsed = platform::elapsedSince(start);
        if (elapsed < windowMs) {
            waitForInput(port, windowMs - elapsed);
        }
        return false;
    }
    line = upper(buffer.c_str());
    if (raw) {
        *raw = buffer.c_str();
    }
    return true;
}

// Reads lines for windowMs until one holds a marker; false on time-out.
template <size_t N>
bool awaitMarker(SerialPort port, uint32_t windowMs, int32_t capacity, uint32_t charTimeoutMs,
                 const char* const (&markers)[N])
{
    platform::Ticks start = platform::tickCount();
    std::string line;
    while (windowOpen(start, windowMs)) {
        if (nextLine(port, start, windowMs, capacity, charTimeoutMs, line) && holdsAny(line, markers)) {
            return true;
        }
    }
    return false;
}

// After the line a dialogue was waiting for, the modem may still be sending the rest of its
// answer (a USB modem delivers it in several frames). Purging at once would let that tail, its
// "OK" above all, arrive after the purge and pass for the answer to the next command; so the
// answer is read on to its "OK" or "ERROR", within the dialogue's window, before the purge.
void finishAnswer(SerialPort port, platform::Ticks start, uint32_t windowMs)
{
    std::string line;
    while (windowOpen(start, windowMs)) {
        if (nextLine(port, start, windowMs, ProbeLineCapacity, LineCharTimeoutMs, line) && endsAnswer(line)) {
            break;
        }
    }
    purgePort(port);
}

// The version word of an upper-cased, trimmed line: the text around its first '.', bounded by
// the nearest blanks. False when the line has a dot but no blank before it.
bool versionToken(const std::string& line, std::string& token)
{
    size_t dot = line.find('.');
    size_t blankBefore = line.rfind(' ', dot);
    if (blankBefore == std::string::npos) {
        return false;
    }
    size_t blankAfter = line.find(' ', dot);
    size_t end = blankAfter == std::string::npos ? line.size() : blankAfter;
    token = line.substr(blankBefore + 1, end - blankBefore - 1);
    return true;
}

}  // namespace

void resetIdentity(ModemIdentity& identity)
{
    identity.portName.clear();
    identity.portHandle = NoPort;
    identity.speedCode = ResetSpeedCode;
    identity.flags = 0;
}

uint32_t testKernelMode(SerialPort port, ProbeReport* report)
{
    std::string key = upper(FirmwareConfig.ATI9_key_string);
    purgePort(port);
    writeText(port, EchoSetupCommand);
    std::string setupAnswer;
    waitForOk(port, &setupAnswer);
    // No purge here: the echo set-up's answer has been read, and an ATI9 answer that is quick
    // must not be thrown away with it.
    writeText(port, Ati9Command);
    platform::Ticks start = platform::tickCount();
    uint32_t flags = 0;
    bool anyLine = false;
    std::string identification;  // the first line of the answer that is not its echo or end
    std::string line;
    std::string raw;
    while (windowOpen(start, Ati9WindowMs)) {
        if (!nextLine(port, start, Ati9WindowMs, ProbeLineCapacity, LineCharTimeoutMs, line, &raw)) {
            continue;
        }
        anyLine = anyLine || !line.empty();
        if (identification.empty() && !line.empty() && !holds(line, Ati9Echo) && !endsAnswer(line)) {
            identification = raw;
        }
        if (holds(line, key)) {
            flags |= IdentityAti9Key;
        }
        if (holds(line, KernelMarker)) {
            flags |= IdentityAti9Key | IdentityKernelMode;
        }
        if (endsAnswer(line)) {
            purgePort(port);
            if (flags == 0 && report) {
                // A bare end of answer when the echo set-up got none is that set-up's answer,
                // come late.
                bool lateSetupAnswer = identification.empty() && setupAnswer.empty();
                report->result = lateSetupAnswer ? ProbeResult::AnsweredLate : ProbeResult::OtherMaker;
                report->answer = identification;
            }
            return flags;
        }
    }
    if (flags != 0) {
        // The answer began in time but its end is still on the way; the next command must not
        // take that end for its own answer.
        finishAnswer(port, platform::tickCount(), Ati9AnswerTailMs);
        return flags;
    }
    if (report) {
        if (!identification.empty()) {
            report->result = ProbeResult::OtherMaker;
            report->answer = identification;
        } else if (anyLine || (!setupAnswer.empty() && waitForInput(port, LateAnswerListenMs))) {
            report->result = ProbeResult::AnsweredLate;
        } else {
            report->result = ProbeResult::NoAnswer;
        }
    }
    return flags;
}

bool checkAti1Key(SerialPort port, ProbeReport* report)
{
    std::string key = upper(FirmwareConfig.ATI1_key_string);
    purgePort(port);
    writeText(port, Ati1Command);
    platform::Ticks start = platform::tickCount();
    std::string identification;
    std::string line;
    std::string raw;
    auto refuse = [&](const std::string& answer) {
        if (report) {
            report->result = ProbeResult::OtherProduct;
            report->answer = answer;
        }
        return false;
    };
    while (windowOpen(start, Ati1WindowMs)) {
        if (!nextLine(port, start, Ati1WindowMs, ProbeLineCapacity, LineCharTimeoutMs, line, &raw)) {
            continue;
        }
        if (holds(line, KernelMarker)) {
            return refuse(raw);
        }
        if (holds(line, key)) {
            if (report) {
                report->answer = raw;
            }
            if (endsAnswer(line)) {
                purgePort(port);
            } else {
                finishAnswer(port, start, Ati1WindowMs);
            }
            return true;
        }
        if (endsAnswer(line)) {
            purgePort(port);
            return refuse(identification);
        }
        if (identification.empty() && !line.empty() && !holds(line, Ati1Echo)) {
            identification = raw;
        }
    }
    return refuse(identification);
}

SerialPort probePort(ModemIdentity& identity, int32_t defaultSpeedCode, ProbeReport* report)
{
    if (report) {
        *report = ProbeReport{};
    }
    int32_t speed = identity.speedCode > 0 ? identity.speedCode : defaultSpeedCode;
    SerialPort port = openPort(identity.portName, speed);
    if (port == NoPort) {
        if (report) {
            report->result = ProbeResult::NotOpened;
            report->openError = platform::lastPortOpenError();
        }
        identity.portName.clear();
        return NoPort;
    }
    uint32_t flags = testKernelMode(port, report);
    if (flags == 0 || ((flags & IdentityKernelMode) == 0 && !checkAti1Key(port, report))) {
        closePort(port);
        identity.portHandle = NoPort;
        identity.portName.clear();
        return NoPort;
    }
    identity.flags = flags;
    identity.portHandle = port;
    identity.speedCode = speed;
    return port;
}

bool checkFirmwareVersion(SerialPort port, std::string* modemVersion)
{
    if (modemVersion) {
        modemVersion->clear();
    }
    if (port == NoPort) {
        return false;
    }
    drainInput(port);
    purgePort(port);
    writeText(port, Ati1Command);
    platform::Ticks start = platform::tickCount();
    std::string reference = upper(FirmwareConfig.Firmware_check_version_VER);
    bool passWhenLower = FirmwareConfig.Firmware_check_version_LE;
    std::string line;
    while (windowOpen(start, VersionWindowMs)) {
        if (!nextLine(port, start, VersionWindowMs, ProbeLineCapacity, LineCharTimeoutMs, line)) {
            continue;
        }
        if (holds(line, KernelMarker)) {
            return false;
        }
        size_t first = line.find_first_not_of(WhiteSpace);
        line = first == std::string::npos ? std::string() : line.substr(first, line.find_last_not_of(WhiteSpace) - first + 1);
        if (line.find('.') != std::string::npos) {
            std::string token;
            if (!versionToken(line, token)) {
                return false;
            }
            if (modemVersion) {
                *modemVersion = token;
            }
            // Byte-wise, not numeric: "1.10" sorts before "1.9".
            int order = token.compare(reference);
            if (passWhenLower ? order <= 0 : order > 0) {
                if (!endsAnswer(line)) {
                    finishAnswer(port, start, VersionWindowMs);
                } else {
                    purgePort(port);
                }
                return true;
            }
        }
        // A word that does not pass leaves the answer open: a later line may still pass.
        if (endsAnswer(line)) {
            purgePort(port);
            return false;
        }
    }
    return false;
}

uint32_t ati1FollowUp(SerialPort port, uint32_t flags)
{
    purgePort(port);
    writeText(port, Ati1Command);
    platform::Ticks start = platform::tickCount();
    bool rk420 = false;
    bool answered = false;
    std::string line;
    while (!answered) {
        if (!windowOpen(start, Ati1FollowUpWindowMs)) {
            return flags;
        }
        if (!nextLine(port, start, Ati1FollowUpWindowMs, ProbeLineCapacity, LineCharTimeoutMs, line)) {
            continue;
        }
        if (holds(line, KernelMarker)) {
            flags |= IdentityKernelMode;
        }
        if (holds(line, Rk420Marker)) {
            rk420 = true;
        }
        answered = endsAnswer(line);
    }
    if (rk420) {
        // The RK420 terminal adapter is set back to its factory profile before it is used.
        purgePort(port);
        writeText(port, AtfCommand);
        static constexpr const char* AtfAnswer[] = {OkMarker};
        awaitMarker(port, AtfWindowMs, ProbeLineCapacity, AtfCharTimeoutMs, AtfAnswer);
    }
    purgePort(port);
    return flags;
}

uint32_t kernelFollowUp(SerialPort port, uint32_t flags)
{
    purgePort(port);
    writeText(port, AtvCommand);
    platform::Ticks start = platform::tickCount();
    std::string line;
    for (;;) {
        if (!windowOpen(start, KernelFollowUpWindowMs)) {
            return flags;
        }
        if (!nextLine(port, start, KernelFollowUpWindowMs, KernelFollowUpLineCapacity, LineCharTimeoutMs, line)) {
            continue;
        }
        if (holdsAny(line, PlainModemMarkers)) {
            break;
        }
        if (holds(line, TerminalAdapterMarker)) {
            purgePort(port);
            writeText(port, Ati1Command);
            if (!awaitMarker(port, KernelFollowUpWindowMs, KernelFollowUpLineCapacity, LineCharTimeoutMs,
                             TerminalAdapterAnswers)) {
                return flags;
            }
            break;
        }
        if (holds(line, NetAdapterMarker)) {
            purgePort(port);
            writeText(port, Ati1Command);
            if (!awaitMarker(port, KernelFollowUpWindowMs, KernelFollowUpLineCapacity, LineCharTimeoutMs,
                             NetAdapterAnswers)) {
                return flags;
            }
            break;
        }
    }
    purgePort(port);
    return flags;
}
