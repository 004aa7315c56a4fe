// Set-up shared by the wizard page tests: a fresh temporary delivery and host folder, the
// default configuration (no INI), the headless window backend, CurrentModem and record 0 of
// uploadJobs cleared, and a sheet with the four pages. Everything is put back on tear-down.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "support/job_records.h"
#include "support/scratch_program.h"
#include "config/program_state.h"
#include "wizard/upgrade_wizard.h"
#include "config/firmware_config.h"
#include "link/modem_probe.h"
#include "link/serial_link.h"
#include "platform/serial_device.h"
#include "support/headless_backend.h"
#include "resources/dialogs.h"
#include "upload/upload_job.h"
#include "upload/upload_workers.h"
#include "wizard/page00.h"
#include "wizard/page10.h"
#include "wizard/page30.h"
#include "wizard/page45.h"
#include "wizard/page_container.h"
#include "wizard/wizard_state.h"

namespace wizard_test {

using platform::ui::HeadlessBackend;
using platform::ui::WindowId;
using platform::ui::WizardButton;
using platform::ui::WizardButtonsView;

inline void clearWizardJob()
{
    jobs::clearJob(uploadJobs[0], 0, 0);
}

// The four pages in one sheet; the sheet is declared last so it closes before the pages go.
struct Wizard {
    CPage00 page00;
    CPage10 page10;
    CPage30 page30;
    CPage45 page45;
    CPageContainer sheet;

    Wizard()
    {
        sheet.addPage(&page00);
        sheet.addPage(&page10);
        sheet.addPage(&page30);
        sheet.addPage(&page45);
    }
};

class WizardFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        program_.emplace();
        ASSERT_FALSE(program_->path().empty());
        dir_ = program_->path();
        loadFirmwareConfig(ProgramDirectory);  // no INI there: the defaults
        OsFlavor = OsFlavorRecord{};
        OsFlavor.IsNT = 1;
        OsFlavor.IsWin98 = 1;
        resetIdentity(CurrentModem);
        clearWizardJob();
        backend_.emplace();
        ui_ = backend_->get();
        wizard_ = std::make_unique<Wizard>();
    }

    void TearDown() override
    {
        wizard_.reset();
        killWorkers(0, 0);
        if (CurrentModem.portHandle != NoPort) {
            closePort(CurrentModem.portHandle);
        }
        resetIdentity(CurrentModem);
        clearWizardJob();
        backend_.reset();
        program_.reset();
    }

    Wizard& wiz() { return *wizard_; }
    CPageContainer& sheet() { return wizard_->sheet; }
    HeadlessBackend& ui() { return *ui_; }
    WizardButtonsView buttons() { return ui_->wizardButtons(sheet().handle()); }
    bool press(WizardButton b) { return ui_->pressWizardButton(sheet().handle(), b); }

    std::string text(const platform::ui::Window& page, int id) { return ui_->text(page.handle(), id); }

    // Opens the sheet and goes to the search page, letting its search run to the end.
    void openAtSearch()
    {
        sheet().open();
        ui().dispatchPosted();
        ASSERT_TRUE(press(WizardButton::Next));
        ui().runFor(SearchDelayMs);
    }

    std::string dir_;
    HeadlessBackend* ui_ = nullptr;
    std::unique_ptr<Wizard> wizard_;

private:
    std::optional<scratch::ScratchProgram> program_;
    std::optional<platform::ui::ScopedHeadlessBackend> backend_;
};

inline bool backOnly(const WizardButtonsView& v)
{
    return v.backVisible && v.backEnabled && v.nextVisible && !v.nextEnabled;
}

inline bool backAndNext(const WizardButtonsView& v)
{
    return v.backVisible && v.backEnabled && v.nextVisible && v.nextEnabled;
}

}  // namespace wizard_test
