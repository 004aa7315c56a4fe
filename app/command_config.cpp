#include <cstdio>
#include <string>

#include "app/commands.h"
#include "app/startup.h"
#include "config/firmware_config.h"
#include "config/ini_reader.h"

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
