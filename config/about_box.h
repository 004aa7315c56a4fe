// The About box: title "About Tarvo", the application icon, the product line with
// Company_short_name, a fixed notice, Company_name, and OK. Shown modally by the wizard sheet's
// help entry point (and by the production dialog's system menu).
// Thread rule: UI thread; needs a window backend (platform/ui/backend.h).
#pragma once

#include <string>

#include "platform/ui/window.h"

class CAboutDlg : public platform::ui::Dialog {
public:
    CAboutDlg();

protected:
    bool onInitDialog() override;
};

// "<Company_short_name> firmware upload wizard Version 2.5".
std::string aboutVersionLine();

// Runs the About box modally over `owner` and returns when the user closed it.
void showAboutBox(platform::ui::WindowId owner);
