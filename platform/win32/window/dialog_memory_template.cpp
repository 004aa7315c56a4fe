#include "platform/win32/window/dialog_memory_template.h"

#include <commctrl.h>

#include <string>

namespace platform::win32ui {

using platform::ui::ControlKind;
using platform::ui::ControlTemplate;
using platform::ui::DialogTemplate;

namespace {

// The predefined classes are named in a template by these atoms (0xFFFF, then the atom).
constexpr WORD ClassAtomMarker = 0xFFFF;
constexpr WORD ButtonAtom = 0x0080;
constexpr WORD EditAtom = 0x0081;
constexpr WORD StaticAtom = 0x0082;
constexpr WORD ListBoxAtom = 0x0083;

// Texts of the program are in the ANSI code page, as the A calls take them.
std::wstring wide(const std::string& text)
{
    if (text.empty()) {
        return std::wstring();
    }
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

void put(std::vector<WORD>& out, WORD w)
{
    out.push_back(w);
}

void putDword(std::vector<WORD>& out, DWORD d)
{
    out.push_back(LOWORD(d));
    out.push_back(HIWORD(d));
}

void putString(std::vector<WORD>& out, const std::wstring& s)
{
    for (wchar_t c : s) {
        out.push_back(static_cast<WORD>(c));
    }
    out.push_back(0);
}

void alignDword(std::vector<WORD>& out)
{
    if (out.size() % 2 != 0) {
        out.push_back(0);
    }
}

bool has(const ControlTemplate& c, uint32_t flag)
{
    return (c.style & flag) != 0;
}

WORD classAtom(ControlKind kind)
{
    switch (kind) {
    case ControlKind::GroupBox:
    case ControlKind::RadioButton:
    case ControlKind::PushButton:
        return ButtonAtom;
    case ControlKind::Edit:
        return EditAtom;
    case ControlKind::ListBox:
        return ListBoxAtom;
    case ControlKind::ProgressBar:
        return 0;  // named by its class name
    case ControlKind::Text:
    case ControlKind::Picture:
    case ControlKind::Icon:
        break;
    }
    return StaticAtom;
}

}  // namespace

ControlClass controlClass(const ControlTemplate& c)
{
    using namespace platform::ui;
    ControlClass out;
    DWORD style = WS_CHILD | WS_VISIBLE;
    style |= has(c, StyleTabStop) ? WS_TABSTOP : 0;
    style |= has(c, StyleDisabled) ? WS_DISABLED : 0;
    style |= has(c, StyleGroup) ? WS_GROUP : 0;
    style |= has(c, StyleBorder) ? WS_BORDER : 0;
    style |= has(c, StyleVScroll) ? WS_VSCROLL : 0;
    style |= has(c, StyleHScroll) ? WS_HSCROLL : 0;
    switch (c.kind) {
    case ControlKind::Text:
        out.className = L"STATIC";
        style |= has(c, StyleRightAlign) ? SS_RIGHT : has(c, StyleCenter) ? SS_CENTER : SS_LEFT;
        style |= has(c, StyleSunken) ? SS_SUNKEN : 0;
        break;
    case ControlKind::Picture:
        out.className = L"STATIC";
        style |= SS_BITMAP | (has(c, StyleSunken) ? SS_SUNKEN : 0);
        break;
    case ControlKind::Icon:
        out.className = L"STATIC";
        style |= SS_ICON | (has(c, StyleSunken) ? SS_SUNKEN : 0);
        break;
    case ControlKind::GroupBox:
        out.className = L"BUTTON";
        style |= BS_GROUPBOX;
        break;
    case ControlKind::RadioButton:
        out.className = L"BUTTON";
        style |= BS_AUTORADIOBUTTON;
        break;
    case ControlKind::PushButton:
        out.className = L"BUTTON";
        style |= has(c, StyleDefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        break;
    case ControlKind::ListBox:
        // The window layer keeps a sorted list's order itself (control_rules.h): the list box's
        // own LBS_SORT puts an item before its equals, the program's lists after them.
        out.className = L"LISTBOX";
        style |= LBS_NOINTEGRALHEIGHT | (has(c, StyleNotify) ? LBS_NOTIFY : 0);
        break;
    case ControlKind::Edit:
        out.className = L"EDIT";
        style |= has(c, StyleMultiline) ? ES_MULTILINE : 0;
        style |= has(c, StyleReadOnly) ? ES_READONLY : 0;
        style |= has(c, StyleDigitsOnly) ? ES_NUMBER : 0;
        style |= has(c, StyleAutoVScroll) ? ES_AUTOVSCROLL : 0;
        style |= has(c, StyleAutoHScroll) ? ES_AUTOHSCROLL : 0;
        style |= has(c, StyleRightAlign) ? ES_RIGHT : has(c, StyleCenter) ? ES_CENTER : ES_LEFT;
        out.exStyle |= has(c, StyleSunken) ? WS_EX_CLIENTEDGE : 0;
        break;
    case ControlKind::ProgressBar:
        out.className = PROGRESS_CLASSW;
        out.exStyle |= has(c, StyleSunken) ? WS_EX_CLIENTEDGE : 0;
        break;
    }
    out.style = style;
    return out;
}

DWORD dialogStyle(TemplateRole role)
{
    if (role == TemplateRole::Page) {
        return WS_CHILD | DS_SETFONT | DS_CONTROL | DS_3DLOOK;
    }
    return WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_3DLOOK | DS_CENTER;
}

std::vector<WORD> buildDialogTemplate(const DialogTemplate& dialog, TemplateRole role)
{
    std::vector<WORD> out;
    // DLGTEMPLATE
    putDword(out, dialogStyle(role));
    putDword(out, 0);  // extended style
    put(out, static_cast<WORD>(dialog.controls.size()));
    put(out, 0);  // x
    put(out, 0);  // y
    put(out, static_cast<WORD>(dialog.cx));
    put(out, static_cast<WORD>(dialog.cy));
    put(out, 0);  // no menu
    put(out, 0);  // the dialog class
    putString(out, wide(dialog.title));
    put(out, static_cast<WORD>(dialog.fontPoints));
    putString(out, wide(dialog.fontName));
    for (const ControlTemplate& c : dialog.controls) {
        alignDword(out);
        ControlClass cls = controlClass(c);
        // DLGITEMTEMPLATE
        putDword(out, cls.style);
        putDword(out, cls.exStyle);
        put(out, static_cast<WORD>(c.x));
        put(out, static_cast<WORD>(c.y));
        put(out, static_cast<WORD>(c.cx));
        put(out, static_cast<WORD>(c.cy));
        put(out, static_cast<WORD>(c.id));  // StaticControlId (-1) is 0xFFFF, IDC_STATIC
        if (WORD atom = classAtom(c.kind)) {
            put(out, ClassAtomMarker);
            put(out, atom);
        } else {
            putString(out, cls.className);
        }
        // Pictures get their image after creation; their text stays empty.
        bool picture = c.kind == ControlKind::Picture || c.kind == ControlKind::Icon;
        putString(out, picture ? std::wstring() : wide(c.text));
        put(out, 0);  // no creation data
    }
    alignDword(out);
    return out;
}

}  // namespace platform::win32ui
