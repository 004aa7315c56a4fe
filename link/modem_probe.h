// Modem probe and identification: whether a COM port has a modem of the configured product on
// it and in which mode (normal or kernel), the optional firmware-version gate, and the two
// follow-up dialogues the modem search runs after a successful probe (terminal adapters, RK420).
// Matching is case-insensitive containment in each answer line (both sides upper-cased).
// Thread rule: synchronous, on the calling thread; each caller owns its ModemIdentity.
#pragma once

#include <cstdint>
#include <string>

#include "link/serial_link.h"
#include "platform/serial_device.h"

constexpr uint32_t IdentityAti9Key = 0x80000000u;     // ATI9 answer held the key, or KERNEL
constexpr uint32_t IdentityKernelMode = 0x40000000u;  // the modem answered KERNEL

struct ModemIdentity {
    std::string portName;          // "COM%d"; emptied when the port cannot be opened or identified
    SerialPort portHandle = NoPort;
    int32_t speedCode = 0;
    uint32_t flags = 0;            // 0: no modem of this product
};

// Windows of the dialogues.
constexpr uint32_t Ati9WindowMs = 200;
constexpr uint32_t Ati1WindowMs = 3000;
constexpr uint32_t VersionWindowMs = 5000;
constexpr uint32_t Ati1FollowUpWindowMs = 4000;
constexpr uint32_t AtfWindowMs = 2000;
constexpr uint32_t KernelFollowUpWindowMs = 2000;
// How long the rest of an ATI9 answer that began inside its window may take to reach its end.
constexpr uint32_t Ati9AnswerTailMs = 3000;
constexpr int32_t ProbeLineCapacity = 500;
constexpr int32_t KernelFollowUpLineCapacity = 1000;
constexpr int32_t ResetSpeedCode = 115200;  // not a named speed code: opens at 115200 baud

// After an ATI9 window with no usable line from a modem that did answer the echo set-up, how
// long the probe listens for an answer on its way before it calls the modem silent. Only spent
// when the caller asks why (a ProbeReport), never by the modem search.
constexpr uint32_t LateAnswerListenMs = 1000;

// Why a probe did not find the modem, for the user: the probe's result stays the port or -1.
enum class ProbeResult {
    Found,
    NotOpened,     // openError says why
    NoAnswer,      // nothing answered the identification
    AnsweredLate,  // an answer came, but after its window
    OtherMaker,    // the ATI9 answer (answer) lacks the maker's key
    OtherProduct,  // the ATI1 answer (answer) lacks the product's key, or says KERNEL
};
struct ProbeReport {
    ProbeResult result = ProbeResult::Found;
    platform::PortOpenError openError = platform::PortOpenError::None;
    std::string answer;  // the identification line the modem gave, as received (when Found:
                         // the ATI1 line that named the product; empty in kernel mode)
};

void resetIdentity(ModemIdentity& identity);
// report, when given, is filled in whatever the outcome.
SerialPort probePort(ModemIdentity& identity, int32_t defaultSpeedCode = DefaultSpeedCode,
                     ProbeReport* report = nullptr);
uint32_t testKernelMode(SerialPort port, ProbeReport* report = nullptr);
bool checkAti1Key(SerialPort port, ProbeReport* report = nullptr);
// modemVersion, when given, receives the last version word the modem named (empty if none).
bool checkFirmwareVersion(SerialPort port, std::string* modemVersion = nullptr);
uint32_t ati1FollowUp(SerialPort port, uint32_t flags);
uint32_t kernelFollowUp(SerialPort port, uint32_t flags);
