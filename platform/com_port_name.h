// COM port names, the one place that knows them: "COM" and a decimal number, as Windows names
// its serial ports. Every name the system builds ("COM3" from 3) and every number it reads back
// goes through here, with the three readings the system needs:
// - comPortNumber: a port the OS could have, "COM1" to "COM255" in any case, no leading zero
//   ("COM03" names no device on Windows);
// - parsePortArgument: what a user means on the command line, "COM3", "com3" or just "3";
// - portNumberOf: the upload's number from the search's port name, the digits after the first
//   three characters as the C library reads them ("COM3a" is 3).
// Results: 0 for "not a port" (no port has number 0).
// Thread rule: pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

constexpr const char* ComPortPrefix = "COM";
constexpr int FirstComPort = 1;
constexpr int LastComPort = 255;    // the highest COMn a port entry or a port argument can name
constexpr size_t MaxComPortDigits = 3;

// 3 -> "COM3".
std::string comPortName(int number);

// "COM3", "com3" -> 3; 0 unless the prefix (any case) is followed by a decimal number from 1 to
// 255 without a leading zero and nothing else.
int comPortNumber(const std::string& name);

// "COM3", "com3" or "3" -> 3; at most three digits (leading zeros allowed), 1 to 255; else 0.
int parsePortArgument(const std::string& word);

// The decimal digits after the first three characters, up to the first other character
// ("COM3" 3, "COM12" 12, "COM3a" 3); 0 when there are none or the number does not fit 31 bits.
int32_t portNumberOf(const std::string& portName);

}  // namespace platform
