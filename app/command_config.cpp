#include <cstdio>
#include <string>

#include "app/commands.h"
#include "app/startup.h"
#include "config/firmware_config.h"
#include "config/ini_reader.h"

namespace {

constexpr const char* PortPrefix = "COM";
constexpr int MaxPortNumber = 255;
constexpr size_t MaxPortDigits = 3;

}  // namespace

int commandConfig(const Arguments& arguments)
{
    if (!arguments.empty()) {
        std::fprintf(stderr, "Tarvo32: config takes no arguments (got '%s')\n", arguments.front().c_str());
        return UsageExitStatus;
    }
    initialiseProgramState();
    if (profileFileHasUtf8Mark(iniPath())) {
        std::fprintf(stderr, "Tarvo32: %s begins with a UTF-8 byte-order mark; like Windows, Tarvo32 reads it "
                             "as part of the first line, so a section header there is not seen\n", iniPath().c_str());
    }
    std::fputs(formatFirmwareConfig(FirmwareConfig).c_str(), stdout);
    return 0;
}

int parsePortArgument(const std::string& word)
{
    std::string digits = word;
    const std::string prefix = PortPrefix;
    if (digits.size() > prefix.size()) {
        bool hasPrefix = true;
        for (size_t i = 0; i < prefix.size(); ++i) {
            char c = digits[i];
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
            hasPrefix = hasPrefix && c == prefix[i];
        }
        if (hasPrefix) {
            digits = digits.substr(prefix.size());
        }
    }
    if (digits.empty() || digits.size() > MaxPortDigits) {
        return 0;
    }
    int number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + (c - '0');
    }
    return number <= MaxPortNumber ? number : 0;
}
