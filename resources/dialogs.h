// The dialog templates of the wizard pages and the About box, and the ids of their controls. The
// templates are data (platform/ui/dialog_template.h): positions and sizes in dialog units of
// the page font, Arial 8 pt; every page is 265 x 120.
// Thread rule: the templates are built on first use on the UI thread and never change.
#pragma once

#include "platform/ui/dialog_template.h"

// Shared by the welcome, the search and the driver-change page.
constexpr int IdcWizardPicture = 1038;

// Welcome page.
constexpr int IdcWelcomeText = 1039;

// Search page.
constexpr int IdcModemList = 1040;
constexpr int IdcOthers = 1006;
constexpr int IdcComLabel = 1007;
constexpr int IdcPortNumber = 1008;
constexpr int IdcStatusLine = 1009;
constexpr int PortNumberLimit = 3;  // characters of the port-number box

// Summary page.
constexpr int IdcSummaryBox = 1018;

// Upload progress page.
constexpr int IdcProductValue = 1092;
constexpr int IdcVersionValue = 1093;
constexpr int IdcStatusLamp = 1094;
constexpr int IdcStep1 = 1095;
constexpr int IdcStep2 = 1096;
constexpr int IdcStep3 = 1097;
constexpr int IdcProgressBar = 1098;
constexpr int IdcPercent = 1099;

// Driver-change page.
constexpr int IdcDriverStep1 = 1100;
constexpr int IdcDriverStep2 = 1101;
constexpr int IdcDriverStep3 = 1102;
constexpr int IdcRebootQuestion = 1103;
constexpr int IdcRebootYes = 1104;
constexpr int IdcRebootNo = 1105;

// About box (OK is platform::ui::IdOk).
constexpr int IdcAboutIcon = 1110;
constexpr int IdcAboutVersion = 1111;
constexpr int IdcAboutNotice = 1112;
constexpr int IdcAboutCompany = 1113;

const platform::ui::DialogTemplate& page00Template();
const platform::ui::DialogTemplate& page10Template();
const platform::ui::DialogTemplate& page30Template();
const platform::ui::DialogTemplate& page45Template();
const platform::ui::DialogTemplate& page55Template();
const platform::ui::DialogTemplate& aboutBoxTemplate();
