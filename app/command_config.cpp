#include <cstdio>
#include <string>

#include "app/commands.h"
#include "app/startup.h"
#include "config/firmware_config.h"
#include "config/ini_reader.h"
#include "platform/console.h"

namespace {

constexpr const char* ConfigUsageText = "Usage: Tarvo32 config\n";

constexpr unsigned char Delete = 0x7F;
constexpr unsigned char C1Lead = 0xC2;  // UTF-8 of U+0080..U+009F: C2 80..C2 9F
constexpr unsigned char C1First = 0x80;
constexpr unsigned char C1Last = 0x9F;

}  // namespace

int commandConfig(const Arguments& arguments)
{
    if (!arguments.empty()) {
        std::fprintf(stderr, "Tarvo32: config takes no arguments (got '%s')\n", arguments.front().c_str());
        std::fputs(ConfigUsageText, stderr);
        return UsageExitStatus;
    }
    initialiseProgramState();
    warnWithoutIni();
    if (profileFileHasUtf8Mark(iniPath())) {
        std::fprintf(stderr, "Tarvo32: %s begins with a UTF-8 byte-order mark; like Windows, Tarvo32 reads it "
                             "as part of the first line, so a section header there is not seen\n", iniPath().c_str());
    }
    std::string text = formatFirmwareConfig(FirmwareConfig);
    // A value may hold anything; on a terminal its control characters would be obeyed.
    std::fputs((platform::stdoutIsTerminal() ? terminalSafe(text) : text).c_str(), stdout);
    return 0;
}

std::string terminalSafe(const std::string& text)
{
    std::string out;
    auto escape = [&out](unsigned char byte) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", byte);
        out += hex;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (byte == '\n') {
            out += '\n';  // the line ends of the listing itself
        } else if (byte < 0x20 || byte == Delete) {
            escape(byte);
        } else if (byte == C1Lead && next >= C1First && next <= C1Last) {
            escape(byte);
            escape(next);
            ++i;
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

void warnWithoutIni()
{
    if (!iniFileUsable()) {
        std::fprintf(stderr, "Tarvo32: warning: no usable %s beside the executable (%s); the built-in defaults "
                             "apply, and the firmware file defaults to %s itself\n",
                     IniFileName, iniPath().c_str(), IniFileName);
    }
}
