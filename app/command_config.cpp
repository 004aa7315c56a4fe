#include <cstdio>
#include <string>

#include "app/commands.h"
#include "app/startup.h"
#include "config/firmware_config.h"
#include "config/ini_reader.h"
#include "platform/console.h"
#include "platform/shown_text.h"

namespace {

constexpr const char* ConfigUsageText = "Usage: Tarvo32 config\n";

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
    // The line ends of the listing itself stay; within each line what would steer a terminal is
    // shown escaped.
    std::string out;
    for (size_t start = 0;;) {
        const size_t end = text.find('\n', start);
        out += platform::shownText(std::string_view(text).substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            return out;
        }
        out += '\n';
        start = end + 1;
    }
}

void warnWithoutIni()
{
    if (!iniFileUsable()) {
        std::fprintf(stderr, "Tarvo32: warning: no usable %s beside the executable (%s); the built-in defaults "
                             "apply, and the firmware file defaults to %s itself\n",
                     IniFileName, iniPath().c_str(), IniFileName);
    }
}
