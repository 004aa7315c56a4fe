// The dialog templates of the wizard pages, the About box and the production-line dialog, and the
// ids of their controls. The templates are data (platform/ui/dialog_template.h): positions and
// sizes in dialog units of the page font, Arial 8 pt; every page is 265 x 120, the production
// dialog 331 x 248.
// Thread rule: the templates are built on first use on the UI thread and never change.
#pragma once

#include "platform/ui/dialog_template.h"

// Shared by the welcome and the search page.
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

// About box (OK is platform::ui::IdOk).
constexpr int IdcAboutIcon = 1110;
constexpr int IdcAboutVersion = 1111;
constexpr int IdcAboutNotice = 1112;
constexpr int IdcAboutCompany = 1113;

// Production-line dialog.
constexpr int IdcStationProduct = 1081;
constexpr int IdcStationVersion = 1104;
constexpr int IdcUpgradeFirmware = 1000;
constexpr int IdcExitWhenAppropriate = 1067;
constexpr int ProductionDialogWidthDu = 331;
constexpr int ProductionDialogHeightDu = 248;

// The controls of one port row of the production dialog and the row's vertical position.
struct StationRowIds {
    int label;     // static text "COMn:"
    int lamp;      // icon
    int steps[3];  // icons, the three step squares
    int percent;   // static text, right-aligned and sunken
    int bar;       // progress bar 0..100
    int y;         // dialog units; the icons stand 6 higher, the percentage 1 higher
};
constexpr int StationRowsShown = 8;
constexpr StationRowIds StationRows[StationRowsShown] = {
    {1082, 1045, {1068, 1069, 1070}, 1044, 1043, 56},
    {1083, 1048, {1071, 1072, 1073}, 1047, 1046, 75},
    {1084, 1051, {1074, 1075, 1076}, 1050, 1049, 94},
    {1085, 1054, {1077, 1078, 1079}, 1053, 1052, 113},
    {1086, 1057, {1092, 1093, 1094}, 1056, 1055, 146},
    {1087, 1060, {1095, 1096, 1097}, 1059, 1058, 165},
    {1088, 1063, {1098, 1099, 1100}, 1062, 1061, 184},
    {1089, 1066, {1101, 1102, 1103}, 1065, 1064, 203},
};

const platform::ui::DialogTemplate& page00Template();
const platform::ui::DialogTemplate& page10Template();
const platform::ui::DialogTemplate& page30Template();
const platform::ui::DialogTemplate& page45Template();
const platform::ui::DialogTemplate& aboutBoxTemplate();
const platform::ui::DialogTemplate& productionDialogTemplate();
