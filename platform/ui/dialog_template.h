// Dialog templates held as data: what a window is made of before any backend draws it. A
// template names its title, its size in dialog units and its font; each control has an id, a
// kind, style flags, a position and size in dialog units, a text, and for pictures an image id
// (resources/icons.h). Dialog units follow the page font: x px = du * baseX / 4, y px = du *
// baseY / 8, where baseX is the font's average character width and baseY its height.
// The pages' own templates live in resources/; this header only defines the shape.
// Thread rule: plain data, safe anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::ui {

// Control ids with a fixed meaning.
constexpr int StaticControlId = -1;  // a control the code never addresses
constexpr int IdOk = 1;              // the OK push button; a message box's OK answer
constexpr int IdCancel = 2;          // the Cancel answer, or a dialog closed by its close box
constexpr int IdYes = 6;             // a message box's Yes answer
constexpr int IdNo = 7;              // a message box's No answer

enum class ControlKind {
    Text,         // static text, one or several lines
    GroupBox,     // frame with an optional caption
    Picture,      // bitmap (image id)
    Icon,         // 32 x 32 icon (image id), replaceable at run time
    ListBox,
    Edit,
    RadioButton,  // automatic: a click checks it
    PushButton,
    ProgressBar,  // range 0..100 unless set otherwise
};

// Style flags of a control; a backend honours those that make sense for the kind.
enum ControlStyle : uint32_t {
    StyleNone = 0,
    StyleBorder = 1u << 0,
    StyleSunken = 1u << 1,       // sunken frame (status lines, the percentage)
    StyleRightAlign = 1u << 2,   // text right-aligned
    StyleCenter = 1u << 3,       // text centred
    StyleDisabled = 1u << 4,     // created disabled
    StyleSorted = 1u << 5,       // list box keeps its items sorted by text
    StyleNotify = 1u << 6,       // list box reports selection changes
    StyleVScroll = 1u << 7,      // vertical scroll bar
    StyleHScroll = 1u << 8,      // horizontal scroll bar
    StyleMultiline = 1u << 9,    // edit: several lines, "\r\n" between them
    StyleReadOnly = 1u << 10,    // edit: the user cannot change the text
    StyleDigitsOnly = 1u << 11,  // edit: only the characters 0 to 9 can be typed
    StyleAutoVScroll = 1u << 12,
    StyleAutoHScroll = 1u << 13,
    StyleTabStop = 1u << 14,
    StyleDefaultButton = 1u << 15,  // push button pressed by Enter in the dialog
    StyleGroup = 1u << 16,          // first control of a group (radio buttons)
};

struct ControlTemplate {
    int id = StaticControlId;
    ControlKind kind = ControlKind::Text;
    uint32_t style = StyleNone;
    int x = 0;  // left, dialog units
    int y = 0;  // top, dialog units
    int cx = 0;  // width, dialog units
    int cy = 0;  // height, dialog units
    std::string text;  // caption, initial text; "\n" breaks a static text's lines
    int32_t image = 0;  // Picture / Icon: initial image id, 0 for none
    int textLimit = 0;  // Edit: most characters the user may type, 0 for no limit
};

// Size of every wizard page and its font.
constexpr int PageWidthDu = 265;
constexpr int PageHeightDu = 120;
constexpr const char* DialogFontName = "Arial";
constexpr int DialogFontPoints = 8;

struct DialogTemplate {
    std::string title;  // a page's title becomes the wizard frame's caption while it is shown
    int cx = PageWidthDu;
    int cy = PageHeightDu;
    std::string fontName = DialogFontName;
    int fontPoints = DialogFontPoints;
    std::vector<ControlTemplate> controls;

    // The control with this id, or null (StaticControlId is never found).
    const ControlTemplate* find(int id) const
    {
        if (id == StaticControlId) {
            return nullptr;
        }
        for (const ControlTemplate& c : controls) {
            if (c.id == id) {
                return &c;
            }
        }
        return nullptr;
    }
};

}  // namespace platform::ui
