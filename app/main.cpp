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
    "  probe [--json] [PORT...]\n"
    "                    look for a modem on the ports (COM3 or 3; default COM1 to COM8);\n"
    "                    --json: one JSON object per port\n"
    "  upgrade PORT      upload the firmware to the modem on PORT\n"
    "  production [--json] [--watch] [PORT...]\n"
    "                    the production-line station without its window: upgrade the modems on\n"
    "                    the station's ports at once (default all eight)\n"
    "  drivers [--dry-run]\n"
    "                    take the old USB modem driver off and copy the new driver files in,\n"
    "                    as the wizard's last page does (without the restart); one line per\n"
    "                    change; --dry-run changes nothing\n"
    "  history [--json] [--port COMn] [--serial S] [--since DATE] [--failed]\n"
    "                    the upgrade record: every upload that reached a modem, newest last,\n"
    "                    then a count per outcome\n"
    "  ports [--json]    the COM ports of the host: where each one's entry leads, whether its\n"
    "                    device is there, its USB ids, serial and stable links (from udev)\n"
    "  --help            this text\n"
    "  --version         the program's version\n"
    "\n"
    "Environment:\n"
    "  TARVO_HOST        the host folder: ports/comN links name the serial devices, registry.reg\n"
    "                    is the registry, windows/ the Windows folder, upgrades.jsonl the\n"
    "                    upgrade record (default $XDG_DATA_HOME/tarvo32)\n"
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
    if (command == "--help" || command == "-h" || command == "help" || command == "--version") {
        if (!rest.empty()) {
            std::fprintf(stderr, "Tarvo32: %s takes no arguments (got '%s')\n\n", command.c_str(), rest.front().c_str());
            std::fputs(UsageText, stderr);
            return UsageExitStatus;
        }
        if (command == "--version") {
            std::printf("Tarvo32 %s\n", TARVO_VERSION);
        } else {
            std::fputs(UsageText, stdout);
        }
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
    if (command == "drivers") {
        return commandDrivers(rest);
    }
    if (command == "history") {
        return commandHistory(rest);
    }
    if (command == "ports") {
        return commandPorts(rest);
    }
    std::fprintf(stderr, "Tarvo32: unknown command '%s'\n\n", command.c_str());
    std::fputs(UsageText, stderr);
    return UsageExitStatus;
}
