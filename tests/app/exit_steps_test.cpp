#include <filesystem>
#include <gtest/gtest.h>

#include "app/startup.h"
#include "config/firmware_config.h"
#include "support/scratch.h"
#include "link/serial_link.h"
#include "platform/linux/host_paths.h"
#include "platform/serial_device.h"
#include "support/headless_backend.h"
#include "support/scripted_port.h"
#include "wizard/upgrade_wizard.h"
#include "upload/upload_job.h"
#include "wizard/wizard_state.h"

namespace {

class ExitSteps : public testing::Test {
protected:
    void SetUp() override
    {
        ProgramDirectory = dir.dir();
        dir.write(RestartProgramName, "#!/bin/sh\ntouch '" + ntMarker + "'\n", true);
    }
    void TearDown() override
    {
        if (CurrentModem.portHandle != NoPort) {
            closePort(CurrentModem.portHandle);
        }
        CurrentModem = ModemIdentity{};
        RebootRequested = 0;
        OsFlavor = OsFlavorRecord{};
        ProgramDirectory.clear();
        FirmwareConfig = FirmwareConfigRecord{};
    }
    bool restartedAs9x() const { return std::filesystem::remove(win9xMarker); }
    bool restartedAsNt() const { return std::filesystem::remove(ntMarker); }

    scratch::TempDir dir;
    std::string win9xMarker = dir.file("9x-restarted");
    std::string ntMarker = dir.file("nt-restarted");
    scratch::ScopedEnv rebootCommand{"TARVO_REBOOT_COMMAND", "touch '" + win9xMarker + "'"};
    testing_support::ScriptedPorts ports;
};

TEST_F(ExitSteps, CloseThePortTheSearchLeftOpen)
{
    testing_support::ScriptedPort& port = ports.add("COM3");
    CurrentModem.portHandle = openPort("COM3", DefaultSpeedCode);
    ASSERT_NE(CurrentModem.portHandle, NoPort);
    runExitSteps();
    EXPECT_EQ(CurrentModem.portHandle, NoPort);
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.dtrDrops(), 1);
    runExitSteps();  // nothing left to close
    EXPECT_EQ(platform::openDeviceCount(), 0);
    EXPECT_FALSE(restartedAs9x() || restartedAsNt());
}

TEST_F(ExitSteps, RestartOnlyWhenAskedAndTheWayTheFamilyDoes)
{
    struct Case {
        const char* winver;
        int requested;
        bool as9x;
        bool asNt;
    };
    for (Case c : {Case{"win98", 1, true, false}, Case{"winme", 1, true, false}, Case{"winxp", 1, false, true},
                   Case{"win98se", 0, false, false}, Case{"win2k", 0, false, false}, Case{"bogus", 1, false, false}}) {
        OsFlavor = detectOsFlavor(platform::windowsVersionFrom(c.winver));
        RebootRequested = c.requested;
        runExitSteps();
        EXPECT_EQ(restartedAs9x(), c.as9x) << c.winver;
        EXPECT_EQ(restartedAsNt(), c.asNt) << c.winver;
    }
}

TEST_F(ExitSteps, ProductionModeLeavesThePortAndTheRestartAlone)
{
    testing_support::ScriptedPort& port = ports.add("COM1");
    CurrentModem.portHandle = openPort("COM1", DefaultSpeedCode);
    FirmwareConfig.For_internal_production = true;
    OsFlavor = detectOsFlavor(platform::windowsVersionFrom("winxp"));
    RebootRequested = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(runStartedApplication(), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("production"), std::string::npos);
    EXPECT_TRUE(port.isOpen());
    EXPECT_NE(CurrentModem.portHandle, NoPort);
    EXPECT_FALSE(restartedAs9x() || restartedAsNt());
}

// Scripts read the wizard's outcome from its exit status: a Cancel is no success.
TEST_F(ExitSteps, ACancelledWizardExitsWithOne)
{
    platform::ui::ScopedHeadlessBackend ui;
    uploadJobs[WizardJobIndex].phase.store(Idle);
    bool shown = false;
    ui->onModal = [&](platform::ui::WindowId) {
        shown = true;
        return false;  // the user cancels on the welcome page
    };
    EXPECT_EQ(runStartedApplication(), 1);
    EXPECT_TRUE(shown);
}

}  // namespace
