// The About box: title "About Tarvo", the application icon, the product line with the company's
// short name, a fixed notice, the company's name, and OK. Shown modally by the wizard sheet's
// help entry point and by the production dialog's window menu, which pass the two names from the
// configuration.
// Thread rule: UI thread; needs a window backend (platform/ui/backend.h).
#pragma once

#include <string>

#include "platform/ui/window.h"

class CAboutDlg : public platform::ui::Dialog {
public:
    CAboutDlg(std::string companyShortName, std::string companyName);

protected:
    bool onInitDialog() override;

private:
    std::string companyShortName_;
    std::string companyName_;
};

// "<company short name> firmware upload wizard Version 2.5".
std::string aboutVersionLine(const std::string& companyShortName);

// Runs the About box modally over `owner` and returns when the user closed it.
void showAboutBox(platform::ui::WindowId owner, const std::string& companyShortName, const std::string& companyName);
