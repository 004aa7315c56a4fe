// Entry point: picks the sub-command, or runs the application when there is none.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/commands.h"
#include "platform/ui/backend.h"
#include "resources/icons/pictures.h"

namespace {


constexpr const char* UsageText =
    "Usage: Tarvo32 [COMMAND] [ARGUMENTS]\n"
    "\n"
    "Upgrades the firmware of a modem on a COM port. Without a command the upgrade wizard runs\n"
    "(or the production-line dialog when Tarvo32.ini asks for it).\n"
    "\n"
    "Commands:\n"
    "  config            print the configuration read from Tarvo32.ini beside the executable\n"
    "  probe [PORT...]   look for a modem on the ports (COM3 or 3; default COM1 to COM8)\n"
    "  upgrade PORT      upload the firmware to the modem on PORT\n"
    "  production [--json] [--watch] [PORT...]\n"
    "                    the production-line station without its window: upgrade the modems on\n"
    "                    the station's ports at once (default all eight)\n"
    "  --help            this text\n"
    "  --version         the program's version\n"
    "\n"
    "Environment:\n"
    "  TARVO_HOST        the host folder: ports/comN links name the serial devices (default\n"
    "                    $XDG_DATA_HOME/tarvo32)\n"
    "  TARVO_WINVER      the Windows version to act as: win95, win98, win98se, winme, nt4,\n"
    "                    win2k, winxp or PLATFORMID.MAJOR.MINOR.BUILD (default: NT family)\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        resources::installPictures();
        // Without a display there is nothing to run on.
        if (!platform::ui::installWindowBackend(argc, argv)) {
            return 1;
        }
        return runApplication();
    }
    std::string command = argv[1];
    Arguments rest(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(UsageText, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("Tarvo32 %s\n", TARVO_VERSION);
        return 0;
    }
    if (command == "config") {
        return commandConfig(rest);
    }
    if (command == "probe") {
        return commandProbe(rest);
    }
    if (command == "upgrade") {
        return commandUpgrade(rest);
    }
    if (command == "production") {
        return commandProduction(rest);
    }
    std::fprintf(stderr, "Tarvo32: unknown command '%s'\n\n", command.c_str());
    std::fputs(UsageText, stderr);
    return UsageExitStatus;
}
