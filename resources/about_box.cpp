#include "resources/about_box.h"

#include <utility>

#include "resources/dialogs.h"
#include "resources/texts.h"

CAboutDlg::CAboutDlg(std::string companyShortName, std::string companyName)
    : Dialog(aboutBoxTemplate()), companyShortName_(std::move(companyShortName)), companyName_(std::move(companyName))
{
}

bool CAboutDlg::onInitDialog()
{
    setItemText(IdcAboutVersion, aboutVersionLine(companyShortName_));
    setItemText(IdcAboutCompany, companyName_);
    return true;
}

std::string aboutVersionLine(const std::string& companyShortName)
{
    return companyShortName + AboutVersionTail;
}

void showAboutBox(platform::ui::WindowId owner, const std::string& companyShortName, const std::string& companyName)
{
    CAboutDlg dialog(companyShortName, companyName);
    dialog.run(owner);
}
