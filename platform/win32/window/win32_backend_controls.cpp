// The Win32 backend's control calls (win32_backend.h): texts, states, progress bars, list boxes and
// edit boxes, each by its own window message (WM_SETTEXT, BM_, PBM_, LB_, EM_), checked against
// the template so that an unknown id or a control of another kind is ignored.
#include "platform/win32/window/win32_backend.h"

#include <algorithm>

#include "platform/ui/control_rules.h"

namespace platform::win32ui {

using platform::ui::ControlKind;
using platform::ui::ControlTemplate;
using platform::ui::WindowId;

namespace {

constexpr LPARAM ToolTipWidthPx = 400;  // long reasons wrap instead of running off the screen

}  // namespace

// --- Any control ---

std::string Win32Backend::controlText(HWND hwnd) const
{
    int length = GetWindowTextLengthA(hwnd);
    std::string text(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
    int got = GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return text;
}

void Win32Backend::setText(WindowId window, int controlId, const std::string& text)
{
    Record* r = find(window);
    if (r != nullptr && r->hwnd != nullptr && r->dialog.find(controlId) != nullptr) {
        SetDlgItemTextA(r->hwnd, controlId, text.c_str());
    }
}

std::string Win32Backend::text(WindowId window, int controlId)
{
    HWND hwnd = controlHandle(window, controlId);
    return hwnd == nullptr ? std::string() : controlText(hwnd);
}

void Win32Backend::setEnabled(WindowId window, int controlId, bool enabled)
{
    if (HWND hwnd = controlHandle(window, controlId)) {
        EnableWindow(hwnd, enabled ? TRUE : FALSE);
    }
}

bool Win32Backend::isEnabled(WindowId window, int controlId)
{
    HWND hwnd = controlHandle(window, controlId);
    return hwnd != nullptr && IsWindowEnabled(hwnd) != FALSE;
}

// One comctl32 tool tip control per window, each control a tool of its own that the tool tip
// subclasses to see the mouse. TOOLINFOA is given in its first size, which the comctl32 of
// Windows 95 and NT 4 takes as well as every later one.
void Win32Backend::setToolTip(WindowId window, int controlId, const std::string& text)
{
    Record* r = find(window);
    HWND hwnd = controlHandle(window, controlId);
    if (r == nullptr || hwnd == nullptr) {
        return;
    }
    const bool had = r->tips.count(controlId) != 0;
    if (text.empty() && !had) {
        return;
    }
    if (r->toolTips == nullptr) {
        r->toolTips = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, r->hwnd, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        if (r->toolTips == nullptr) {
            return;
        }
        // Older comctl32 versions do not know the message and ignore it: the tip stays one line.
        SendMessageA(r->toolTips, TTM_SETMAXTIPWIDTH, 0, ToolTipWidthPx);
    }
    // A static control lets the mouse through to its parent unless it notifies; the tool tip
    // must see the mouse over the lamp and the label too. Clicks on it are still not reported
    // (only buttons' BN_CLICKED are).
    const ControlTemplate* c = r->dialog.find(controlId);
    if (c != nullptr && (c->kind == ControlKind::Text || c->kind == ControlKind::Icon || c->kind == ControlKind::Picture)) {
        SetWindowLongA(hwnd, GWL_STYLE, GetWindowLongA(hwnd, GWL_STYLE) | SS_NOTIFY);
    }
    TOOLINFOA info{};
    info.cbSize = TTTOOLINFOA_V1_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = r->hwnd;
    info.uId = reinterpret_cast<UINT_PTR>(hwnd);
    if (text.empty()) {
        SendMessageA(r->toolTips, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&info));
        r->tips.erase(controlId);
        return;
    }
    // The control copies the text.
    std::string copy = text;
    info.lpszText = copy.data();
    SendMessageA(r->toolTips, had ? TTM_UPDATETIPTEXTA : TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
    r->tips[controlId] = text;
}

std::string Win32Backend::toolTip(WindowId window, int controlId)
{
    const Record* r = find(window);
    if (r == nullptr) {
        return std::string();
    }
    auto it = r->tips.find(controlId);
    return it == r->tips.end() ? std::string() : it->second;
}

void Win32Backend::setChecked(WindowId window, int controlId, bool checked)
{
    if (HWND hwnd = control(window, controlId, ControlKind::RadioButton)) {
        SendMessageA(hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

bool Win32Backend::isChecked(WindowId window, int controlId)
{
    HWND hwnd = control(window, controlId, ControlKind::RadioButton);
    return hwnd != nullptr && SendMessageA(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// --- Progress bar ---

void Win32Backend::setProgressRange(WindowId window, int controlId, int low, int high)
{
    if (HWND hwnd = control(window, controlId, ControlKind::ProgressBar)) {
        SendMessageA(hwnd, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
    }
}

void Win32Backend::setProgressPos(WindowId window, int controlId, int pos)
{
    if (HWND hwnd = control(window, controlId, ControlKind::ProgressBar)) {
        SendMessageA(hwnd, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
    }
}

int Win32Backend::progressPos(WindowId window, int controlId)
{
    HWND hwnd = control(window, controlId, ControlKind::ProgressBar);
    return hwnd == nullptr ? 0 : static_cast<int>(SendMessageA(hwnd, PBM_GETPOS, 0, 0));
}

// --- List box ---

void Win32Backend::listReset(WindowId window, int controlId)
{
    if (HWND hwnd = control(window, controlId, ControlKind::ListBox)) {
        SendMessageA(hwnd, LB_RESETCONTENT, 0, 0);
    }
}

int Win32Backend::listAdd(WindowId window, int controlId, const std::string& text)
{
    HWND hwnd = control(window, controlId, ControlKind::ListBox);
    if (hwnd == nullptr) {
        return -1;
    }
    LRESULT index;
    const ControlTemplate* c = find(window)->dialog.find(controlId);
    if ((c->style & platform::ui::StyleSorted) != 0) {
        int count = listCount(window, controlId);
        int at = platform::ui::sortedInsertIndex(count, [&](int i) { return listText(window, controlId, i); }, text);
        index = SendMessageA(hwnd, LB_INSERTSTRING, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(text.c_str()));
    } else {
        index = SendMessageA(hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    return index < 0 ? -1 : static_cast<int>(index);
}

void Win32Backend::listSetData(WindowId window, int controlId, int index, intptr_t data)
{
    if (HWND hwnd = control(window, controlId, ControlKind::ListBox)) {
        SendMessageA(hwnd, LB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
    }
}

intptr_t Win32Backend::listData(WindowId window, int controlId, int index)
{
    HWND hwnd = control(window, controlId, ControlKind::ListBox);
    if (hwnd == nullptr || index < 0 || index >= listCount(window, controlId)) {
        return -1;
    }
    return static_cast<intptr_t>(SendMessageA(hwnd, LB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

int Win32Backend::listCount(WindowId window, int controlId)
{
    HWND hwnd = control(window, controlId, ControlKind::ListBox);
    return hwnd == nullptr ? -1 : static_cast<int>(SendMessageA(hwnd, LB_GETCOUNT, 0, 0));
}

std::string Win32Backend::listText(WindowId window, int controlId, int index)
{
    HWND hwnd = control(window, controlId, ControlKind::ListBox);
    if (hwnd == nullptr) {
        return std::string();
    }
    LRESULT length = SendMessageA(hwnd, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0) {
        return std::string();
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    LRESULT got = SendMessageA(hwnd, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got < 0 ? 0 : static_cast<size_t>(got));
    return text;
}

int Win32Backend::listSelection(WindowId window, int controlId)
{
    HWND hwnd = control(window, controlId, ControlKind::ListBox);
    if (hwnd == nullptr) {
        return -1;
    }
    LRESULT selected = SendMessageA(hwnd, LB_GETCURSEL, 0, 0);
    return selected < 0 ? -1 : static_cast<int>(selected);
}

void Win32Backend::listSelect(WindowId window, int controlId, int index)
{
    if (HWND hwnd = control(window, controlId, ControlKind::ListBox)) {
        SendMessageA(hwnd, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
}

// --- Edit box ---
// Lines are counted in the text by the shared rules, not by EM_GETLINECOUNT: a multi-line edit
// that wraps its words counts every wrapped row as a line, and the program's lines are those
// "\r\n" separates, on every backend alike.

int Win32Backend::caretOf(HWND edit) const
{
    DWORD start = 0;
    DWORD end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return static_cast<int>(end);
}

void Win32Backend::setTextLimit(WindowId window, int controlId, int limit)
{
    if (HWND hwnd = control(window, controlId, ControlKind::Edit)) {
        SendMessageA(hwnd, EM_LIMITTEXT, static_cast<WPARAM>(std::max(limit, 0)), 0);
    }
}

int Win32Backend::editLineCount(WindowId window, int controlId)
{
    HWND hwnd = control(window, controlId, ControlKind::Edit);
    return hwnd == nullptr ? -1 : static_cast<int>(platform::ui::editLineStarts(controlText(hwnd)).size());
}

int Win32Backend::editLineIndex(WindowId window, int controlId, int line)
{
    HWND hwnd = control(window, controlId, ControlKind::Edit);
    return hwnd == nullptr ? -1 : platform::ui::editLineIndexIn(controlText(hwnd), line, caretOf(hwnd));
}

int Win32Backend::editLineLength(WindowId window, int controlId, int charIndex)
{
    HWND hwnd = control(window, controlId, ControlKind::Edit);
    return hwnd == nullptr ? 0 : platform::ui::editLineLengthIn(controlText(hwnd), charIndex, caretOf(hwnd));
}

void Win32Backend::editSetSelection(WindowId window, int controlId, int start, int end)
{
    HWND hwnd = control(window, controlId, ControlKind::Edit);
    if (hwnd == nullptr) {
        return;
    }
    const int length = GetWindowTextLengthA(hwnd);
    const int to = end < 0 ? length : std::clamp(end, 0, length);
    const int from = std::clamp(start, 0, length);
    SendMessageA(hwnd, EM_SETSEL, static_cast<WPARAM>(from), static_cast<LPARAM>(to));
    SendMessageA(hwnd, EM_SCROLLCARET, 0, 0);
}

void Win32Backend::editReplaceSelection(WindowId window, int controlId, const std::string& text)
{
    if (HWND hwnd = control(window, controlId, ControlKind::Edit)) {
        SendMessageA(hwnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

}  // namespace platform::win32ui
