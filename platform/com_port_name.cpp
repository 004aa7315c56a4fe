#include "platform/com_port_name.h"

#include <cstring>

namespace platform {

namespace {

constexpr int32_t LargestPortNumber = 0x7FFFFFFF;

char upperCase(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// True when text starts with the prefix, case not counting, and has more after it.
bool hasComPrefix(const std::string& text)
{
    const size_t prefixLength = std::strlen(ComPortPrefix);
    if (text.size() <= prefixLength) {
        return false;
    }
    for (size_t i = 0; i < prefixLength; ++i) {
        if (upperCase(text[i]) != ComPortPrefix[i]) {
            return false;
        }
    }
    return true;
}

// 1..255 from one to three decimal digits; 0 otherwise.
int portInRange(const std::string& digits)
{
    if (digits.empty() || digits.size() > MaxComPortDigits) {
        return 0;
    }
    int number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + (c - '0');
    }
    return number >= FirstComPort && number <= LastComPort ? number : 0;
}

}  // namespace

std::string comPortName(int number)
{
    return ComPortPrefix + std::to_string(number);
}

int comPortNumber(const std::string& name)
{
    if (!hasComPrefix(name)) {
        return 0;
    }
    std::string digits = name.substr(std::strlen(ComPortPrefix));
    return digits.front() == '0' ? 0 : portInRange(digits);
}

int parsePortArgument(const std::string& word)
{
    return portInRange(hasComPrefix(word) ? word.substr(std::strlen(ComPortPrefix)) : word);
}

int32_t portNumberOf(const std::string& portName)
{
    // A decimal number as the C library reads one, but one that cannot overflow.
    int64_t value = 0;
    for (size_t i = std::strlen(ComPortPrefix); i < portName.size(); ++i) {
        char c = portName[i];
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + (c - '0');
        if (value > LargestPortNumber) {
            return 0;
        }
    }
    return static_cast<int32_t>(value);
}

}  // namespace platform
