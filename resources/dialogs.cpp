#include "resources/dialogs.h"

#include "resources/icons.h"
#include "resources/texts.h"

using platform::ui::ControlKind;
using platform::ui::ControlTemplate;
using platform::ui::DialogTemplate;
using namespace platform::ui;

namespace {

ControlTemplate control(int id, ControlKind kind, uint32_t style, int x, int y, int cx, int cy,
                        const char* text = "", int32_t image = NoImage, int limit = 0)
{
    ControlTemplate c;
    c.id = id;
    c.kind = kind;
    c.style = style;
    c.x = x;
    c.y = y;
    c.cx = cx;
    c.cy = cy;
    c.text = text;
    c.image = image;
    c.textLimit = limit;
    return c;
}

DialogTemplate page(const char* title, std::vector<ControlTemplate> controls)
{
    DialogTemplate t;
    t.title = title;
    t.controls = std::move(controls);
    return t;
}

}  // namespace

const DialogTemplate& page00Template()
{
    static const DialogTemplate t = page(Page00Title, {
        control(IdcWizardPicture, ControlKind::Picture, StyleNone, 13, 7, 46, 100, "", BitmapWizardPicture),
        control(IdcWelcomeText, ControlKind::Text, StyleNone, 80, 10, 178, 49),
        control(StaticControlId, ControlKind::Text, StyleNone, 80, 76, 177, 17, WelcomePrompt),
    });
    return t;
}

const DialogTemplate& page10Template()
{
    static const DialogTemplate t = page(Page10Title, {
        control(IdcWizardPicture, ControlKind::Picture, StyleNone, 13, 7, 46, 100, "", BitmapWizardPicture),
        control(StaticControlId, ControlKind::Text, StyleNone, 80, 7, 178, 25, SearchPrompt),
        control(IdcModemList, ControlKind::ListBox,
                StyleBorder | StyleSorted | StyleNotify | StyleVScroll | StyleTabStop, 81, 36, 177, 41),
        control(IdcOthers, ControlKind::RadioButton, StyleTabStop | StyleGroup, 86, 82, 39, 10, OthersText),
        control(IdcComLabel, ControlKind::Text, StyleDisabled, 138, 82, 18, 10, ComLabelText),
        control(IdcPortNumber, ControlKind::Edit,
                StyleBorder | StyleDigitsOnly | StyleDisabled | StyleAutoHScroll | StyleTabStop, 163, 81, 37, 12,
                "", NoImage, PortNumberLimit),
        control(IdcStatusLine, ControlKind::Text, StyleSunken, 80, 104, 178, 11, StatusTemplateText),
    });
    return t;
}

const DialogTemplate& page30Template()
{
    static const DialogTemplate t = page(Page30Title, {
        control(IdcSummaryBox, ControlKind::Edit,
                StyleMultiline | StyleReadOnly | StyleBorder | StyleAutoVScroll | StyleAutoHScroll | StyleTabStop,
                25, 7, 215, 104),
    });
    return t;
}

const DialogTemplate& page45Template()
{
    static const DialogTemplate t = page(Page45Title, {
        control(StaticControlId, ControlKind::GroupBox, StyleNone, 6, 3, 256, 108),
        control(StaticControlId, ControlKind::GroupBox, StyleNone, 11, 16, 245, 37, InfoGroupText),
        control(StaticControlId, ControlKind::Text, StyleNone, 30, 27, 72, 8, ProductLabelText),
        control(StaticControlId, ControlKind::Text, StyleNone, 30, 40, 72, 8, VersionLabelText),
        control(IdcProductValue, ControlKind::Text, StyleNone, 109, 27, 140, 8),
        control(IdcVersionValue, ControlKind::Text, StyleNone, 109, 40, 140, 8),
        control(StaticControlId, ControlKind::GroupBox, StyleNone, 11, 63, 245, 40, ProgressGroupText),
        control(IdcStatusLamp, ControlKind::Icon, StyleNone, 13, 76, 21, 20, "", IconLampIdle),
        control(IdcStep1, ControlKind::Icon, StyleNone, 31, 76, 21, 20, "", IconStepPending),
        control(IdcStep2, ControlKind::Icon, StyleNone, 47, 76, 21, 20, "", IconStepPending),
        control(IdcStep3, ControlKind::Icon, StyleNone, 63, 76, 21, 20, "", IconStepPending),
        control(IdcProgressBar, ControlKind::ProgressBar, StyleBorder, 88, 82, 136, 8),
        control(IdcPercent, ControlKind::Text, StyleRightAlign | StyleSunken, 229, 81, 22, 9, PercentZeroText),
    });
    return t;
}

const DialogTemplate& aboutBoxTemplate()
{
    static const DialogTemplate t = [] {
        DialogTemplate d;
        d.title = AboutTitle;
        d.cx = 235;
        d.cy = 72;
        d.controls = {
            control(IdcAboutIcon, ControlKind::Icon, StyleNone, 11, 12, 21, 20, "", IconApplication),
            control(IdcAboutVersion, ControlKind::Text, StyleNone, 42, 10, 185, 8),
            control(IdcAboutNotice, ControlKind::Text, StyleNone, 42, 24, 185, 8, AboutNotice),
            control(IdcAboutCompany, ControlKind::Text, StyleNone, 42, 38, 185, 8),
            control(IdOk, ControlKind::PushButton, StyleDefaultButton | StyleTabStop | StyleGroup, 177, 52, 50, 14,
                    OkButtonText),
        };
        return d;
    }();
    return t;
}

namespace {

// The production dialog's row pieces, relative to the row's y: icons stand 6 higher, the
// percentage 1 higher.
constexpr int IconRaiseDu = 6;
constexpr int PercentRaiseDu = 1;
constexpr int IconSideDu = 20;
constexpr int StepXDu[3] = {68, 84, 100};

}  // namespace

const DialogTemplate& productionDialogTemplate()
{
    static const DialogTemplate t = [] {
        DialogTemplate d;
        d.title = ProductionTitle;
        d.cx = ProductionDialogWidthDu;
        d.cy = ProductionDialogHeightDu;
        d.controls = {
            control(StaticControlId, ControlKind::GroupBox, StyleNone, 13, 5, 305, 33, InfoGroupText),
            control(StaticControlId, ControlKind::Text, StyleNone, 41, 13, 72, 8, ProductLabelText),
            control(StaticControlId, ControlKind::Text, StyleNone, 41, 26, 72, 8, VersionLabelText),
            control(IdcStationProduct, ControlKind::Text, StyleNone, 125, 13, 185, 8),
            control(IdcStationVersion, ControlKind::Text, StyleNone, 125, 26, 185, 8),
            control(StaticControlId, ControlKind::GroupBox, StyleNone, 13, 45, 305, 85),
            control(StaticControlId, ControlKind::GroupBox, StyleNone, 13, 134, 305, 86),
        };
        for (int k = 0; k < StationRowsShown; ++k) {
            const StationRowIds& row = StationRows[k];
            d.controls.push_back(control(row.lamp, ControlKind::Icon, StyleNone, 18, row.y - IconRaiseDu,
                                         IconSideDu, IconSideDu, "", IconLampIdle));
            d.controls.push_back(control(row.label, ControlKind::Text, StyleNone, 41, row.y, 26, 8,
                                         ShiftedRowLabelTexts[k]));
            for (int i = 0; i < 3; ++i) {
                d.controls.push_back(control(row.steps[i], ControlKind::Icon, StyleNone, StepXDu[i],
                                             row.y - IconRaiseDu, IconSideDu, IconSideDu, "", IconStepPending));
            }
            d.controls.push_back(control(row.bar, ControlKind::ProgressBar, StyleBorder, 128, row.y, 152, 8));
            d.controls.push_back(control(row.percent, ControlKind::Text, StyleRightAlign | StyleSunken, 288,
                                         row.y - PercentRaiseDu, 22, 9, PercentZeroText));
        }
        d.controls.push_back(control(IdcUpgradeFirmware, ControlKind::PushButton,
                                     StyleDefaultButton | StyleTabStop | StyleGroup, 81, 226, 69, 14,
                                     UpgradeFirmwareText));
        d.controls.push_back(control(IdcExitWhenAppropriate, ControlKind::PushButton, StyleTabStop, 190, 226, 84,
                                     14, ExitWhenAppropriateText));
        return d;
    }();
    return t;
}
