// `Tarvo32 drivers [--dry-run]`: the driver change's three steps (UninstallOldDriver,
// DeleteOldDriverFiles, InstallNewDriverFiles) without the page's pauses and without the
// restart, for a technician's script and for checking the change from outside. One stdout line
// per change, in order; why a step did nothing goes to stderr.
#include <cstdio>
#include <string>

#include "app/commands.h"
#include "app/startup.h"
#include "config/firmware_config.h"
#include "drivers/driver_change.h"
#include "platform/registry.h"

namespace {

constexpr int DoneExitStatus = 0;
constexpr int NoWindowsFolderExitStatus = 1;
constexpr const char* DryRunOption = "--dry-run";
constexpr const char* DriversUsageText = "Usage: Tarvo32 drivers [--dry-run]\n";

void printChange(const DriverChangeEvent& change)
{
    switch (change.kind) {
    case DriverChangeEvent::Kind::DeletedKey:
        std::printf("deleted key %s\n", change.path.c_str());
        break;
    case DriverChangeEvent::Kind::DeletedFile:
        std::printf("deleted file %s\n", change.path.c_str());
        break;
    case DriverChangeEvent::Kind::Copied:
        std::printf("copied %s -> %s\n", change.path.c_str(), change.target.c_str());
        break;
    }
    std::fflush(stdout);
}

}  // namespace

int commandDrivers(const Arguments& arguments)
{
    bool dryRun = false;
    for (const std::string& word : arguments) {
        if (word != DryRunOption) {
            std::fprintf(stderr, "Tarvo32: drivers does not take '%s'\n", word.c_str());
            std::fputs(DriversUsageText, stderr);
            return UsageExitStatus;
        }
        dryRun = true;
    }
    initialiseProgramState();
    std::string windows;
    if (!readWindowsFolder(windows)) {
        std::fputs("Tarvo32: the Windows folder (windows in the host folder, TARVO_HOST) cannot be read\n",
                   stderr);
        return NoWindowsFolderExitStatus;
    }

    // A registry file the store cannot fully read is left as it is: every deletion then fails.
    if (std::string notice = platform::regUnreadableNotice(); !notice.empty()) {
        std::fprintf(stderr, "Tarvo32: %s\n", notice.c_str());
    }

    DriverChange change;
    change.setDryRun(dryRun);
    change.setChangeReport(printChange);
    if (!OsFlavor.IsWin9x) {
        std::fputs("Tarvo32: the old driver's uninstall key is followed on the Windows 95/98/Me family only\n",
                   stderr);
    } else if (change.UninstallOldDriver() == 0) {
        std::fprintf(stderr, "Tarvo32: no uninstall key HKEY_LOCAL_MACHINE\\%s (error %d): no key or listed file "
                             "removed\n", change.uninstallKeyPath.c_str(), static_cast<int>(change.lastStatus));
    }
    change.DeleteOldDriverFiles();
    change.InstallNewDriverFiles();
    if (dryRun) {
        std::fputs("Tarvo32: dry run, nothing was changed\n", stderr);
    }
    return DoneExitStatus;
}
