// The wizard sheet: class CPageContainer over the window layer's Sheet, and its one global
// instance UpgradeSheet. It adds nothing but the help entry point, which shows the About box
// instead of opening a help file.
// Thread rule: UI thread only.
#pragma once

#include "platform/ui/sheet.h"
#include "platform/ui/window.h"

class CPageContainer : public platform::ui::Sheet {
protected:
    // Both help arguments are ignored; returns when the About box is closed.
    void winHelp(uint32_t data, uint32_t command) override;
};

extern CPageContainer UpgradeSheet;
