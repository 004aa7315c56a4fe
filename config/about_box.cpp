#include "config/about_box.h"

#include "config/firmware_config.h"
#include "resources/dialogs.h"
#include "resources/texts.h"

CAboutDlg::CAboutDlg() : Dialog(aboutBoxTemplate()) {}

bool CAboutDlg::onInitDialog()
{
    setItemText(IdcAboutVersion, aboutVersionLine());
    setItemText(IdcAboutCompany, FirmwareConfig.Company_name);
    return true;
}

std::string aboutVersionLine()
{
    return FirmwareConfig.Company_short_name + AboutVersionTail;
}

void showAboutBox(platform::ui::WindowId owner)
{
    CAboutDlg dialog;
    dialog.run(owner);
}
