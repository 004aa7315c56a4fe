// The driver-change page on the headless backend and a virtual clock: the sequence's order and
// timing as the user would see it (each repaint), the reboot choice, and whole program runs from
// the sheet's modal loop to the restart at exit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "app/startup.h"  // runStartedApplication
#include "drivers/driver_fixture.h"
#include "drivers/page55.h"
#include "platform/clock.h"
#include "support/headless_backend.h"
#include "resources/dialogs.h"
#include "resources/texts.h"
#include "wizard/page_container.h"

namespace driver_test {
namespace {

using platform::ui::HeadlessBackend;
using platform::ui::WindowId;
using platform::ui::WizardButton;

constexpr int LitControls[] = {IdcDriverStep1, IdcDriverStep2, IdcDriverStep3, IdcRebootQuestion, IdcRebootYes,
                               IdcRebootNo};

// What the user sees at one repaint: when, which controls are lit, whether the wait cursor shows
// and whether the old driver's uninstall key is still there.
struct Seen {
    uint32_t atMs = 0;
    std::vector<int> lit;
    int waitCursor = 0;
    bool oldDriverThere = false;
};

class DriverPage : public DriverFixture {
protected:
    void SetUp() override
    {
        DriverFixture::SetUp();
        writeRegistry(OldDriverRegistry);
        auto backend = std::make_unique<HeadlessBackend>();
        ui_ = backend.get();
        platform::ui::installBackend(std::move(backend));
        RebootRequested = 0;
    }
    void TearDown() override
    {
        platform::ui::installBackend(nullptr);
        DriverFixture::TearDown();
    }

    // The page alone in a sheet, shown: its timer 30 is running.
    void open(CPageContainer& sheet, CPage55& page)
    {
        sheet.addPage(&page);
        sheet.open();
        ui().dispatchPosted();
    }

    void watchRepaints(const CPage55& page)
    {
        ui().onRepaint = [this, &page](WindowId window) {
            ASSERT_EQ(window, page.handle());
            Seen s;
            s.atMs = platform::tickCount();
            for (int id : LitControls) {
                if (ui().isEnabled(window, id)) {
                    s.lit.push_back(id);
                }
            }
            s.waitCursor = ui().waitCursorDepth();
            s.oldDriverThere = keyExists(UninstallKey9x);
            seen.push_back(s);
        };
    }

    HeadlessBackend& ui() { return *ui_; }

    platform::ScopedVirtualClock clock;
    std::vector<Seen> seen;

private:
    HeadlessBackend* ui_ = nullptr;
};

TEST_F(DriverPage, TheStepsComeOnOneAfterAnotherThenYesAndFinishAreOffered)
{
    CPage55 page;
    CPageContainer sheet;
    open(sheet, page);
    const WindowId w = page.handle();
    EXPECT_EQ(ui().windowTitle(sheet.handle()), "Firmware upload wizard (page 5 of 5)");
    EXPECT_EQ(ui().text(w, IdcRebootYes), "Yes,  reboot right now.");
    for (int id : LitControls) {
        EXPECT_FALSE(ui().isEnabled(w, id)) << id;
    }
    const platform::ui::WizardButtonsView starting = ui().wizardButtons(sheet.handle());
    EXPECT_FALSE(starting.backEnabled || starting.nextEnabled || starting.finishEnabled);
    EXPECT_EQ(ui().timerPeriod(w, DriverStepsTimerId), DriverStepsDelayMs);
    EXPECT_EQ(page.uninstallKey, 0u);

    watchRepaints(page);
    const uint32_t start = platform::tickCount() + DriverStepsDelayMs;
    ui().runFor(DriverStepsDelayMs);

    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].atMs - start, 1000u);
    EXPECT_THAT(seen[0].lit, ::testing::ElementsAre(IdcDriverStep1));
    EXPECT_EQ(seen[0].waitCursor, 1);
    EXPECT_EQ(seen[1].atMs - start, 12000u);
    EXPECT_THAT(seen[1].lit, ::testing::ElementsAre(IdcDriverStep1, IdcDriverStep2));
    EXPECT_EQ(seen[1].waitCursor, 0);
    EXPECT_TRUE(seen[1].oldDriverThere) << "step 2 comes on before the removal";
    EXPECT_EQ(seen[2].atMs - start, 12500u);
    EXPECT_THAT(seen[2].lit, ::testing::ElementsAre(IdcDriverStep1, IdcDriverStep2, IdcDriverStep3));
    EXPECT_FALSE(seen[2].oldDriverThere);
    EXPECT_EQ(seen[3].atMs - start, 13000u);
    EXPECT_EQ(seen[3].lit.size(), 6u);

    EXPECT_TRUE(ui().isChecked(w, IdcRebootYes));
    EXPECT_FALSE(ui().isChecked(w, IdcRebootNo));
    EXPECT_EQ(RebootRequested, 1);
    EXPECT_EQ(ui().waitCursorDepth(), 0);
    const platform::ui::WizardButtonsView end = ui().wizardButtons(sheet.handle());
    EXPECT_FALSE(end.backVisible && end.backEnabled);
    EXPECT_TRUE(end.finishVisible && end.finishEnabled);
    EXPECT_EQ(end.finishText, "Finish");
    EXPECT_FALSE(ui().pressWizardButton(sheet.handle(), WizardButton::Back));

    // Timer 30 was stopped first: nothing runs the sequence again.
    EXPECT_FALSE(ui().timerActive(w, DriverStepsTimerId));
    EXPECT_FALSE(ui().fireTimer(w, DriverStepsTimerId));
    ui().runFor(20000);
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_TRUE(ui().pressWizardButton(sheet.handle(), WizardButton::Finish));
    EXPECT_FALSE(sheet.isOpen());
}

TEST_F(DriverPage, TheLastCheckedButtonDecidesTheRestart)
{
    struct Case {
        std::vector<int> clicks;
        WizardButton closeWith;
        int requested;
    } cases[] = {
        {{}, WizardButton::Finish, 1},
        {{IdcRebootNo}, WizardButton::Finish, 0},
        {{IdcRebootNo, IdcRebootYes}, WizardButton::Finish, 1},
        {{IdcRebootYes, IdcRebootNo, IdcRebootNo}, WizardButton::Finish, 0},
        {{}, WizardButton::Cancel, 1},
        {{IdcRebootNo}, WizardButton::Cancel, 0},
    };
    for (const Case& c : cases) {
        CPage55 page;
        CPageContainer sheet;
        open(sheet, page);
        ui().runFor(DriverStepsDelayMs);
        for (int id : c.clicks) {
            EXPECT_TRUE(ui().click(page.handle(), id));
        }
        EXPECT_TRUE(ui().pressWizardButton(sheet.handle(), c.closeWith));
        EXPECT_FALSE(sheet.isOpen());
        EXPECT_EQ(RebootRequested, c.requested) << c.clicks.size() << " clicks";
        sheet.clearPages();
    }
}

// Whole runs of the application in wizard mode: the modal sheet driven as a user would, the
// upload page passed by (no port chosen, so no upload), the driver change's page, then the exit
// steps.
class DriverPageRun : public DriverPage {
protected:
    void SetUp() override
    {
        DriverPage::SetUp();
        dir.write("delivery/RebootNT.exe", "#!/bin/sh\ntouch '" + ntMarker + "'\n", true);
    }

    // Drives the wizard to its last page, lets the sequence run, clicks and closes.
    void script(std::vector<int> clicks, WizardButton closeWith)
    {
        ui().onModal = [this, clicks, closeWith, step = 0](WindowId) mutable {
            switch (step++) {
            case 0:
                pages = UpgradeSheet.pageCount();
                while (UpgradeSheet.activeIndex() + 1 < pages) {
                    UpgradeSheet.pressButton(platform::ui::SheetButton::Next);
                }
                return true;
            case 1:
                ui().runFor(DriverStepsDelayMs);
                for (int id : clicks) {
                    ui().click(UpgradeSheet.activePage()->handle(), id);
                }
                ui().pressWizardButton(UpgradeSheet.handle(), closeWith);
                return true;
            default:
                return false;
            }
        };
    }
    // On the virtual clock the exit steps stop waiting for the restart at once; the program they
    // started may still be on its way, so a restart expected is waited for in real time.
    static bool restarted(const std::string& marker, bool expected)
    {
        for (int i = 0; expected && i < RestartWaitSteps && !std::filesystem::exists(marker); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return std::filesystem::remove(marker);
    }
    static constexpr int RestartWaitSteps = 500;

    std::string win9xMarker = dir.file("9x-restarted");
    std::string ntMarker = dir.file("nt-restarted");
    scratch::ScopedEnv rebootCommand{"TARVO_REBOOT_COMMAND", "touch '" + win9xMarker + "'"};
    int pages = 0;
};

TEST_F(DriverPageRun, FinishWithYesRestartsTheWayTheFamilyDoesAndNoDoesNot)
{
    struct Case {
        const char* winver;
        std::vector<int> clicks;
        WizardButton closeWith;
        bool restarted9x;
        bool restartedNt;
    } cases[] = {
        {"win98se", {}, WizardButton::Finish, true, false},
        {"win98se", {IdcRebootNo}, WizardButton::Finish, false, false},
        {"winme", {IdcRebootNo, IdcRebootYes}, WizardButton::Finish, true, false},
        {"win98", {}, WizardButton::Cancel, true, false},
        {"win2k", {}, WizardButton::Finish, false, true},
        {"winxp", {IdcRebootNo}, WizardButton::Finish, false, false},
    };
    FirmwareConfig.Windows_ChgDrv_and_Reboot = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.winver) + " " + std::to_string(c.clicks.size()) + " clicks");
        useWindows(c.winver);
        script(c.clicks, c.closeWith);
        // No upload ran (the upload page was passed by), so the wizard's exit status is 1.
        EXPECT_EQ(runStartedApplication(), 1);
        EXPECT_EQ(pages, 5);
        EXPECT_EQ(restarted(win9xMarker, c.restarted9x), c.restarted9x);
        EXPECT_EQ(restarted(ntMarker, c.restartedNt), c.restartedNt);
    }
    // The 9x runs took the old driver off on the way.
    EXPECT_FALSE(keyExists(UninstallKey9x));
}

TEST_F(DriverPageRun, WithoutTheDriverChangeTheWizardHasFourPagesAndNeverRestarts)
{
    FirmwareConfig.Windows_ChgDrv_and_Reboot = false;
    script({}, WizardButton::Cancel);
    EXPECT_EQ(runStartedApplication(), 1);  // no upload ran
    EXPECT_EQ(pages, 4);
    EXPECT_EQ(RebootRequested, 0);
    EXPECT_FALSE(restarted(win9xMarker, false) || restarted(ntMarker, false));
    EXPECT_TRUE(keyExists(UninstallKey9x));
}

}  // namespace
}  // namespace driver_test
