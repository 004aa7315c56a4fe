// `Tarvo32 drivers [--dry-run]`: the driver change's three steps (UninstallOldDriver,
// DeleteOldDriverFiles, InstallNewDriverFiles) without the page's pauses and without the
// restart, for a technician's script and for checking the change from outside. One stdout line
// per change, in order; a change that failed (or, in a dry run, would fail), a listed name that
// leads nowhere and why a step did nothing go to stderr. Exit status 1 when a change failed.
#include <cstdio>
#include <string>

#include "app/commands.h"
#include "app/startup.h"
#include "config/firmware_config.h"
#include "drivers/driver_change.h"
#include "platform/registry.h"
#include "platform/shown_text.h"

namespace {

constexpr int DoneExitStatus = 0;
constexpr int NoWindowsFolderExitStatus = 1;
constexpr int ChangeFailedExitStatus = 1;
constexpr const char* DryRunOption = "--dry-run";
constexpr const char* DriversUsageText = "Usage: Tarvo32 drivers [--dry-run]\n";
constexpr const char* KeyReportRoot = "HKEY_LOCAL_MACHINE\\";

// What the run said so far, for its closing lines and its exit status.
struct Outcome {
    bool dryRun = false;
    int failed = 0;
    int missing = 0;                 // listed names that led nowhere
    std::string uninstallKey;        // HKEY_LOCAL_MACHINE\... of the uninstall key
    bool uninstallKeyDeleted = false;
};

// Names come from files and registry values anyone may have written: printed escaped, so a line
// feed in a value cannot forge a line of this report.
std::string shown(const std::string& text) { return platform::shownText(text); }

void printChange(Outcome& outcome, const DriverChangeEvent& change)
{
    const char* failing = outcome.dryRun ? "would fail to" : "could not";
    switch (change.kind) {
    case DriverChangeEvent::Kind::DeletedKey:
        std::printf("deleted key %s\n", shown(change.path).c_str());
        outcome.uninstallKeyDeleted = outcome.uninstallKeyDeleted || change.path == outcome.uninstallKey;
        break;
    case DriverChangeEvent::Kind::DeletedFile:
        std::printf("deleted file %s\n", shown(change.path).c_str());
        break;
    case DriverChangeEvent::Kind::Copied:
        std::printf("copied %s -> %s\n", shown(change.path).c_str(), shown(change.target).c_str());
        break;
    case DriverChangeEvent::Kind::Failed:
        ++outcome.failed;
        std::fflush(stdout);
        if (!change.target.empty()) {
            std::fprintf(stderr, "Tarvo32: %s copy %s -> %s: %s\n", failing, shown(change.path).c_str(),
                         shown(change.target).c_str(), change.reason.c_str());
        } else if (change.path.rfind(KeyReportRoot, 0) == 0) {
            std::fprintf(stderr, "Tarvo32: %s delete key %s: %s\n", failing, shown(change.path).c_str(),
                         change.reason.c_str());
        } else {
            std::fprintf(stderr, "Tarvo32: %s delete file %s: %s\n", failing, shown(change.path).c_str(),
                         change.reason.c_str());
        }
        break;
    case DriverChangeEvent::Kind::Missing:
        ++outcome.missing;
        std::fflush(stdout);
        std::fprintf(stderr, "Tarvo32: the uninstall key names %s, which does not exist\n",
                     shown(change.path).c_str());
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

    Outcome outcome;
    outcome.dryRun = dryRun;
    DriverChange change;
    change.setDryRun(dryRun);
    change.setChangeReport([&outcome](const DriverChangeEvent& event) { printChange(outcome, event); });
    if (!OsFlavor.IsWin9x) {
        std::fputs("Tarvo32: the old driver's uninstall key is followed on the Windows 95/98/Me family only\n",
                   stderr);
    } else {
        outcome.uninstallKey = KeyReportRoot + std::string(UninstallKeyRoot) +
                               (FirmwareConfig.Firmware_to_CDC_protocol ? UninstallKeyCdc : UninstallKeyOther);
        if (change.UninstallOldDriver() == 0) {
            std::fprintf(stderr, "Tarvo32: no uninstall key HKEY_LOCAL_MACHINE\\%s (error %d): no key or listed file "
                                 "removed\n", change.uninstallKeyPath.c_str(), static_cast<int>(change.lastStatus));
        } else if (outcome.missing > 0 && outcome.uninstallKeyDeleted) {
            std::fprintf(stderr, "Tarvo32: the uninstall key %s deleted as written all the same: a rerun cannot "
                                 "retry the names it listed\n", dryRun ? "would be" : "was");
        }
    }
    change.DeleteOldDriverFiles();
    change.InstallNewDriverFiles();
    if (dryRun) {
        std::fputs("Tarvo32: dry run, nothing was changed\n", stderr);
    }
    if (outcome.failed > 0) {
        std::fprintf(stderr, "Tarvo32: %d change%s %s\n", outcome.failed, outcome.failed == 1 ? "" : "s",
                     dryRun ? "would fail" : "failed");
        return ChangeFailedExitStatus;
    }
    return DoneExitStatus;
}
