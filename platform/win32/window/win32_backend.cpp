#include "platform/win32/window/win32_backend.h"

#include <algorithm>
#include <utility>

#include "platform/threads.h"
#include "platform/ui/control_rules.h"
#include "platform/ui/image.h"
#include "platform/win32/message_window.h"
#include "platform/win32/window/dialog_memory_template.h"
#include "platform/win32/window/win32_pictures.h"

namespace platform::ui {

namespace {

// InitCommonControlsEx came with comctl32 4.70 (Internet Explorer 3): the comctl32 that Windows 95
// and NT 4.0 bring has only InitCommonControls, which registers the progress bar too.
void initCommonControls()
{
    using InitCall = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    HMODULE comctl32 = GetModuleHandleA("comctl32.dll");
    auto initEx = comctl32 == nullptr ? nullptr
                                      : reinterpret_cast<InitCall>(reinterpret_cast<void*>(
                                            GetProcAddress(comctl32, "InitCommonControlsEx")));
    if (initEx == nullptr) {
        InitCommonControls();
        return;
    }
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES;  // bar: tool tips
    initEx(&controls);
}

}  // namespace

bool installWindowBackend(int /*argc*/, char** /*argv*/)
{
    initCommonControls();
    setBackendFactory([] { return std::make_unique<platform::win32ui::Win32Backend>(); });
    return true;
}

}  // namespace platform::ui

namespace platform::win32ui {

using platform::ui::ControlKind;
using platform::ui::ControlTemplate;
using platform::ui::Key;
using platform::ui::MessageBoxButtons;
using platform::ui::MessageBoxIcon;
using platform::ui::NoWindow;
using platform::ui::Notification;
using platform::ui::PostedMessage;
using platform::ui::PumpResult;
using platform::ui::WindowEvents;
using platform::ui::WindowId;
using platform::ui::WindowRole;
using platform::ui::WizardButton;
using platform::ui::WizardButtonsView;

namespace {

// The message window's own messages.
constexpr UINT WmDeliverPosted = WM_APP + 1;  // one posted message waits in the queue
constexpr UINT WmWizardButton = WM_APP + 2;   // wParam: the sheet, lParam: the WizardButton
constexpr UINT WmWake = WM_APP + 3;           // a modal loop has something to check
constexpr const char* MessageWindowClass = "Tarvo32UiMessages";

// The first sizes of the sheet's structures: the comctl32 of Windows 95 and NT 4.0 refuses larger
// ones, and no field after them is used.
const UINT PageStructSize = PROPSHEETPAGEA_V1_SIZE;
const UINT HeaderStructSize = PROPSHEETHEADERA_V1_SIZE;

// The wizard frame's buttons, as comctl32 numbers them in its wizard template.
constexpr int BackButtonId = 0x3023;
constexpr int NextButtonId = 0x3024;
constexpr int FinishButtonId = 0x3025;

// The sheet's answers to its notifications: -1 keeps the page (PSN_WIZBACK / PSN_WIZNEXT), TRUE
// keeps the sheet open (PSN_WIZFINISH / PSN_QUERYCANCEL).
constexpr LONG_PTR RefusePageChange = -1;
constexpr LONG_PTR RefuseClose = TRUE;

Win32Backend* instance = nullptr;

bool isPicture(ControlKind kind)
{
    return kind == ControlKind::Picture || kind == ControlKind::Icon;
}

// The top-level window a dialog, page or control belongs to: up through the parents while the
// window is a child (GetAncestor is Windows 98's and 2000's, not 95's or NT 4.0's).
HWND rootOf(HWND hwnd)
{
    while (hwnd != nullptr && (GetWindowLongA(hwnd, GWL_STYLE) & WS_CHILD) != 0) {
        HWND parent = GetParent(hwnd);
        if (parent == nullptr) {
            break;
        }
        hwnd = parent;
    }
    return hwnd;
}

// The wizard frame in the middle of the screen's work area, as a dialog with DS_CENTER stands.
void centerOnScreen(HWND hwnd)
{
    RECT area;
    RECT window;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0) || !GetWindowRect(hwnd, &window)) {
        return;
    }
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    SetWindowPos(hwnd, nullptr, area.left + std::max(0L, (area.right - area.left - width) / 2),
                 area.top + std::max(0L, (area.bottom - area.top - height) / 2), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void releaseImage(ControlKind kind, HANDLE image)
{
    if (image == nullptr) {
        return;
    }
    if (kind == ControlKind::Icon) {
        DestroyIcon(static_cast<HICON>(image));
    } else {
        DeleteObject(image);
    }
}

}  // namespace

// --- Creation and destruction ---

Win32Backend::Win32Backend()
{
    instance = this;
    static bool registered = false;
    HINSTANCE module = GetModuleHandleA(nullptr);
    if (!registered) {
        WNDCLASSA cls{};
        cls.lpfnWndProc = messageWindowProc;
        cls.hInstance = module;
        cls.lpszClassName = MessageWindowClass;
        registered = RegisterClassA(&cls) != 0;
    }
    // Message-only where Windows documents it, else a hidden top-level window, never shown.
    messageWindow_ = CreateWindowExA(0, MessageWindowClass, "", 0, 0, 0, 0, 0, messageWindowParent(),
                                     nullptr, module, nullptr);
    SetWindowLongPtrA(messageWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32Backend::~Win32Backend()
{
    // Sheets first (they take their pages along), then what is left; no event reaches anyone
    // while they go.
    std::vector<WindowId> ids;
    for (auto& [id, record] : windows_) {
        record.events = nullptr;
        ids.push_back(id);
    }
    std::stable_partition(ids.begin(), ids.end(), [this](WindowId id) { return find(id)->kind == Kind::Sheet; });
    for (WindowId id : ids) {
        destroyWindow(id);
    }
    SetWindowLongPtrA(messageWindow_, GWLP_USERDATA, 0);
    DestroyWindow(messageWindow_);
    if (instance == this) {
        instance = nullptr;
    }
}

Win32Backend::Record* Win32Backend::find(WindowId window)
{
    auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : &it->second;
}

const Win32Backend::Record* Win32Backend::find(WindowId window) const
{
    auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : &it->second;
}

WindowId Win32Backend::idOf(HWND hwnd) const
{
    auto it = byHwnd_.find(hwnd);
    return it == byHwnd_.end() ? NoWindow : it->second;
}

HWND Win32Backend::windowHandle(WindowId window) const
{
    const Record* r = find(window);
    return r == nullptr ? nullptr : r->hwnd;
}

HWND Win32Backend::controlHandle(WindowId window, int controlId) const
{
    const Record* r = find(window);
    if (r == nullptr || r->hwnd == nullptr || r->dialog.find(controlId) == nullptr) {
        return nullptr;
    }
    return GetDlgItem(r->hwnd, controlId);
}

WindowId Win32Backend::shownPage(WindowId sheet) const
{
    const Record* r = find(sheet);
    return r == nullptr ? NoWindow : r->shown;
}

std::vector<WindowId> Win32Backend::windows() const
{
    std::vector<WindowId> ids;
    for (const auto& [id, record] : windows_) {
        ids.push_back(id);
    }
    return ids;
}

bool Win32Backend::isSheet(WindowId window) const
{
    const Record* r = find(window);
    return r != nullptr && r->kind == Kind::Sheet;
}

const platform::ui::DialogTemplate* Win32Backend::dialogTemplate(WindowId window) const
{
    const Record* r = find(window);
    return r == nullptr || r->kind == Kind::Sheet ? nullptr : &r->dialog;
}

WizardButtonsView Win32Backend::wizardButtons(WindowId sheet) const
{
    const Record* r = find(sheet);
    return r == nullptr ? WizardButtonsView{} : r->buttons;
}

HWND Win32Backend::control(WindowId window, int controlId, ControlKind kind) const
{
    const Record* r = find(window);
    if (r == nullptr || r->hwnd == nullptr) {
        return nullptr;
    }
    const ControlTemplate* c = r->dialog.find(controlId);
    if (c == nullptr || c->kind != kind) {
        return nullptr;
    }
    return GetDlgItem(r->hwnd, controlId);
}

WindowId Win32Backend::createDialog(const platform::ui::DialogTemplate& dialog, WindowId parent, WindowRole role,
                                    WindowEvents* events)
{
    const WindowId id = nextId_++;
    Record& record = windows_[id];
    record.events = events;
    record.parent = parent;
    record.dialog = dialog;
    HINSTANCE module = GetModuleHandleA(nullptr);
    Record* sheet = role == WindowRole::SheetPage ? find(parent) : nullptr;
    if (sheet != nullptr && sheet->kind == Kind::Sheet) {
        record.kind = Kind::Page;
        auto bytes = std::make_shared<std::vector<WORD>>(buildDialogTemplate(dialog, TemplateRole::Page));
        sheet->pageTemplates.push_back(bytes);
        PROPSHEETPAGEA page{};
        page.dwSize = PageStructSize;
        page.dwFlags = PSP_DLGINDIRECT | PSP_HASHELP;
        page.hInstance = module;
        page.pResource = reinterpret_cast<LPCDLGTEMPLATE>(bytes->data());
        page.pfnDlgProc = dialogProc;
        page.lParam = static_cast<LPARAM>(id);
        record.page = CreatePropertySheetPageA(&page);
        HWND frame = sheet->hwnd;
        Record* before = find(sheet->shown);
        HPROPSHEETPAGE shownBefore = before != nullptr ? before->page : sheet->placeholder;
        SendMessageA(frame, PSM_ADDPAGE, 0, reinterpret_cast<LPARAM>(record.page));
        // The sheet makes a page's dialog when it is first selected: select it now (the frame
        // may be hidden still), then the page shown before again.
        creating_ = id;
        SendMessageA(frame, PSM_SETCURSEL, 0, reinterpret_cast<LPARAM>(record.page));
        creating_ = NoWindow;
        if (shownBefore != nullptr) {
            SendMessageA(frame, PSM_SETCURSEL, 0, reinterpret_cast<LPARAM>(shownBefore));
        }
    } else {
        record.kind = Kind::Dialog;
        std::vector<WORD> bytes = buildDialogTemplate(dialog, TemplateRole::Dialog);
        const Record* owner = find(parent);
        creating_ = id;
        CreateDialogIndirectParamA(module, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()),
                                   owner != nullptr ? rootOf(owner->hwnd) : nullptr, dialogProc, 0);
        creating_ = NoWindow;
    }
    Record* made = find(id);
    if (made->hwnd == nullptr) {
        windows_.erase(id);
        return NoWindow;
    }
    prepareControls(*made);
    if (made->kind == Kind::Dialog) {
        giveApplicationIcon(*made);
    }
    return id;
}

void Win32Backend::giveApplicationIcon(Record& record)
{
    // Every title bar of the program shows its icon until the window asks for another.
    const int32_t icon = platform::ui::applicationIconId();
    if (icon != 0) {
        WindowId id = idOf(record.hwnd);
        setWindowIcon(id, icon);
    }
}

void Win32Backend::prepareControls(Record& record)
{
    for (const ControlTemplate& c : record.dialog.controls) {
        if (c.kind == ControlKind::Edit) {
            // 0 lifts the edit box's own default limit, which would cut a long log.
            SendDlgItemMessageA(record.hwnd, c.id, EM_LIMITTEXT, static_cast<WPARAM>(std::max(c.textLimit, 0)), 0);
        }
    }
    // The dialog manager makes the controls in template order, so the n-th child is the n-th
    // control: pictures the code never addresses (no id to find them by) are found so.
    HWND child = GetWindow(record.hwnd, GW_CHILD);
    for (const ControlTemplate& c : record.dialog.controls) {
        if (isPicture(c.kind) && c.image != 0 && child != nullptr) {
            HANDLE image = c.kind == ControlKind::Icon ? static_cast<HANDLE>(makeIcon(c.image))
                                                       : static_cast<HANDLE>(makeBitmap(c.image));
            SendMessageA(child, STM_SETIMAGE, c.kind == ControlKind::Icon ? IMAGE_ICON : IMAGE_BITMAP,
                         reinterpret_cast<LPARAM>(image));
            if (c.id != platform::ui::StaticControlId) {
                record.images[c.id] = {c.kind, image};
            } else {
                record.laterImages.emplace_back(c.kind, image);
            }
        }
        child = child != nullptr ? GetWindow(child, GW_HWNDNEXT) : nullptr;
    }
}

WindowId Win32Backend::createSheet(WindowEvents* events)
{
    const WindowId id = nextId_++;
    Record& record = windows_[id];
    record.kind = Kind::Sheet;
    record.events = events;
    HINSTANCE module = GetModuleHandleA(nullptr);
    // An empty page of the pages' size: comctl32 sizes the frame by the pages it starts with,
    // and the real pages come one by one later.
    platform::ui::DialogTemplate empty;
    auto bytes = std::make_shared<std::vector<WORD>>(buildDialogTemplate(empty, TemplateRole::Page));
    record.pageTemplates.push_back(bytes);
    PROPSHEETPAGEA page{};
    page.dwSize = PageStructSize;
    page.dwFlags = PSP_DLGINDIRECT | PSP_HASHELP;
    page.hInstance = module;
    page.pResource = reinterpret_cast<LPCDLGTEMPLATE>(bytes->data());
    page.pfnDlgProc = placeholderProc;
    record.placeholder = CreatePropertySheetPageA(&page);
    PROPSHEETHEADERA header{};
    header.dwSize = HeaderStructSize;
    header.dwFlags = PSH_WIZARD | PSH_MODELESS | PSH_HASHELP | PSH_USECALLBACK;
    header.hInstance = module;
    header.pszCaption = "";
    header.nPages = 1;
    header.phpage = &record.placeholder;
    header.pfnCallback = sheetCallback;
    HWND frame = reinterpret_cast<HWND>(PropertySheetA(&header));
    Record* made = find(id);
    if (frame == nullptr) {
        windows_.erase(id);
        return NoWindow;
    }
    ShowWindow(frame, SW_HIDE);
    centerOnScreen(frame);
    made->hwnd = frame;
    byHwnd_[frame] = id;
    applyButtons(*made);
    giveApplicationIcon(*made);
    return id;
}

int CALLBACK Win32Backend::sheetCallback(HWND /*hwnd*/, UINT message, LPARAM lParam)
{
    // The frame starts hidden, as every window of the layer does: runModal shows it.
    if (message == PSCB_PRECREATE && lParam != 0) {
        auto* words = reinterpret_cast<WORD*>(lParam);
        const bool extended = words[1] == 0xFFFF;  // DLGTEMPLATEEX: the style after two DWORDs
        auto* style = reinterpret_cast<DWORD*>(lParam + (extended ? 3 * sizeof(DWORD) : 0));
        *style &= ~static_cast<DWORD>(WS_VISIBLE);
    }
    return 0;
}

void Win32Backend::destroyWindow(WindowId window)
{
    Record* r = find(window);
    if (r == nullptr) {
        return;
    }
    for (auto& [timerId, key] : r->timers) {
        KillTimer(messageWindow_, key);
        timerOwners_.erase(key);
    }
    r->timers.clear();
    r->events = nullptr;
    if (r->modal) {
        r->ended = true;
        PostMessageA(messageWindow_, WmWake, 0, 0);
    }
    Record gone = std::move(*r);
    windows_.erase(window);
    byHwnd_.erase(gone.hwnd);
    if (gone.kind == Kind::Sheet) {
        // Pages the layer left behind go with the frame.
        std::vector<WindowId> pages;
        for (auto& [id, record] : windows_) {
            if (record.kind == Kind::Page && record.parent == window) {
                pages.push_back(id);
            }
        }
        for (WindowId page : pages) {
            destroyWindow(page);
        }
        DestroyWindow(gone.hwnd);
    } else if (gone.kind == Kind::Page) {
        // The page's dialog belongs to the sheet, which destroys it with the frame; until then
        // it reports nothing, and its pictures stay with the sheet.
        Record* sheet = find(gone.parent);
        if (sheet != nullptr && sheet->shown == window) {
            sheet->shown = NoWindow;
        }
        if (sheet != nullptr) {
            for (auto& [controlId, image] : gone.images) {
                sheet->laterImages.push_back(image);
            }
            sheet->laterImages.insert(sheet->laterImages.end(), gone.laterImages.begin(), gone.laterImages.end());
            gone.images.clear();
            gone.laterImages.clear();
        }
    } else {
        DestroyWindow(gone.hwnd);
    }
    for (auto& [controlId, image] : gone.images) {
        releaseImage(image.first, image.second);
    }
    for (auto& [kind, image] : gone.laterImages) {
        releaseImage(kind, image);
    }
    for (HICON icon : gone.windowIcons) {
        DestroyIcon(icon);
    }
}

// --- Sheet frame ---

void Win32Backend::showSheetPage(WindowId sheet, WindowId page)
{
    Record* s = find(sheet);
    Record* p = find(page);
    if (s == nullptr || p == nullptr || s->kind != Kind::Sheet || p->kind != Kind::Page || p->parent != sheet) {
        return;
    }
    SendMessageA(s->hwnd, PSM_SETCURSEL, 0, reinterpret_cast<LPARAM>(p->page));
    s->shown = page;
    if (s->placeholder != nullptr) {
        SendMessageA(s->hwnd, PSM_REMOVEPAGE, 0, reinterpret_cast<LPARAM>(s->placeholder));
        s->placeholder = nullptr;
    }
    SetWindowTextA(s->hwnd, p->dialog.title.c_str());
    // comctl32 may reset its buttons on a page change; the layer's view holds.
    applyButtons(*s);
}

void Win32Backend::setWizardButtons(WindowId sheet, const WizardButtonsView& view)
{
    Record* s = find(sheet);
    if (s == nullptr || s->kind != Kind::Sheet) {
        return;
    }
    s->buttons = view;
    applyButtons(*s);
}

void Win32Backend::applyButtons(Record& sheet)
{
    const WizardButtonsView& v = sheet.buttons;
    DWORD flags = (v.backEnabled ? PSWIZB_BACK : 0) | (v.nextEnabled ? PSWIZB_NEXT : 0);
    if (v.finishVisible) {
        flags |= v.finishEnabled ? PSWIZB_FINISH : PSWIZB_DISABLEDFINISH;
    }
    SendMessageA(sheet.hwnd, PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(flags));
    if (v.finishVisible && !v.backVisible) {
        SendMessageA(sheet.hwnd, PSM_SETFINISHTEXT, 0, reinterpret_cast<LPARAM>(v.finishText.c_str()));
    }
    // What comctl32 shows differs between its versions; the view decides.
    struct Button {
        int id;
        bool visible;
        bool enabled;
    };
    const Button buttons[] = {
        {BackButtonId, v.backVisible, v.backEnabled},
        {NextButtonId, v.nextVisible && !v.finishVisible, v.nextEnabled},
        {FinishButtonId, v.finishVisible, v.finishEnabled},
    };
    for (const Button& b : buttons) {
        if (HWND button = GetDlgItem(sheet.hwnd, b.id)) {
            ShowWindow(button, b.visible ? SW_SHOWNA : SW_HIDE);
            EnableWindow(button, b.enabled ? TRUE : FALSE);
        }
    }
    if (HWND finish = GetDlgItem(sheet.hwnd, FinishButtonId)) {
        SetWindowTextA(finish, v.finishText.c_str());
    }
}

// --- Modal loops and the message loop ---

int Win32Backend::runModal(WindowId window)
{
    Record* r = find(window);
    if (r == nullptr) {
        return platform::ui::IdCancel;
    }
    if (r->ended) {
        // endModal came first.
        r->ended = false;
        return r->result;
    }
    HWND hwnd = r->hwnd;
    HWND owner = GetWindow(hwnd, GW_OWNER);
    const bool disableOwner = owner != nullptr && IsWindowEnabled(owner);
    if (disableOwner) {
        EnableWindow(owner, FALSE);
    }
    r->modal = true;
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
    int result = platform::ui::IdCancel;
    for (;;) {
        r = find(window);
        if (r == nullptr || r->ended) {
            break;
        }
        MSG message;
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0) {
                PostQuitMessage(static_cast<int>(message.wParam));
            }
            break;
        }
        processMessage(message);
    }
    if (r != nullptr) {
        result = r->ended ? r->result : platform::ui::IdCancel;
        r->ended = false;
        r->modal = false;
    }
    // The owner takes input again before this window hides, so that it is the one activated.
    if (disableOwner) {
        EnableWindow(owner, TRUE);
    }
    if (r != nullptr) {
        ShowWindow(hwnd, SW_HIDE);
    }
    return result;
}

void Win32Backend::endModal(WindowId window, int result)
{
    Record* r = find(window);
    if (r == nullptr) {
        return;
    }
    r->ended = true;
    r->result = result;
    PostMessageA(messageWindow_, WmWake, 0, 0);
}

PumpResult Win32Backend::pumpOne()
{
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        return PumpResult::Nothing;
    }
    if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return PumpResult::Nothing;
    }
    processMessage(message);
    return PumpResult::Dispatched;
}

void Win32Backend::processMessage(MSG& message)
{
    if (message.message == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE) &&
        routeKey(message)) {
        return;
    }
    if (HWND root = rootOf(message.hwnd)) {
        if (const Record* r = find(idOf(root))) {
            if (r->kind == Kind::Sheet ? PropSheet_IsDialogMessage(root, &message) != FALSE
                                       : IsDialogMessageA(root, &message) != FALSE) {
                return;
            }
        }
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

bool Win32Backend::routeKey(const MSG& message)
{
    // The dialog or page that holds the control the key went to.
    HWND child = message.hwnd;
    WindowId owner = NoWindow;
    for (HWND h = message.hwnd; h != nullptr; h = GetParent(h)) {
        owner = idOf(h);
        if (owner != NoWindow) {
            break;
        }
        child = h;
    }
    Record* r = find(owner);
    if (r == nullptr || r->kind == Kind::Sheet || r->events == nullptr) {
        return false;  // the frame's own buttons: the sheet's dialog handling
    }
    const Key key = message.wParam == VK_RETURN ? Key::Enter : Key::Escape;
    const int controlId = child != r->hwnd ? GetDlgCtrlID(child) : platform::ui::StaticControlId;
    if (r->events->windowKey(controlId, key)) {
        return true;
    }
    r = find(owner);
    if (r == nullptr || r->events == nullptr) {
        return true;
    }
    if (r->kind == Kind::Page) {
        Record* sheet = find(r->parent);
        if (sheet == nullptr || sheet->events == nullptr) {
            return true;
        }
        if (key == Key::Escape) {
            sheet->events->wizardButton(WizardButton::Cancel);
        } else if (auto button = platform::ui::enterWizardButton(sheet->buttons)) {
            sheet->events->wizardButton(*button);
        }
        return true;
    }
    if (key == Key::Escape) {
        r->events->windowClose();
        return true;
    }
    // Enter: a push button with the focus is pressed itself; else the default button, or IDOK
    // when there is none, as the dialog manager does; a disabled one takes nothing.
    const ControlTemplate* focused = r->dialog.find(controlId);
    int command = focused != nullptr && focused->kind == ControlKind::PushButton
                      ? controlId
                      : platform::ui::enterCommandId(r->dialog);
    HWND button = GetDlgItem(r->hwnd, command);
    if (button == nullptr || IsWindowEnabled(button)) {
        r->events->windowCommand(command, Notification::Clicked);
    }
    return true;
}

// --- Dialog procedures ---

INT_PTR CALLBACK Win32Backend::dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Win32Backend* self = instance;
    if (self == nullptr) {
        return FALSE;
    }
    if (message == WM_INITDIALOG) {
        if (Record* r = self->find(self->creating_); r != nullptr && r->hwnd == nullptr) {
            r->hwnd = hwnd;
            self->byHwnd_[hwnd] = self->creating_;
        }
        return TRUE;
    }
    WindowId id = self->idOf(hwnd);
    if (id == NoWindow) {
        return FALSE;
    }
    return self->handleDialogMessage(id, hwnd, message, wParam, lParam);
}

INT_PTR Win32Backend::handleDialogMessage(WindowId id, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Record* r = find(id);
    if (r == nullptr) {
        return FALSE;
    }
    switch (message) {
    case WM_COMMAND: {
        const int controlId = LOWORD(wParam);
        const UINT code = HIWORD(wParam);
        const ControlTemplate* c = r->dialog.find(controlId);
        if (lParam == 0 || c == nullptr || r->events == nullptr) {
            return TRUE;
        }
        if (code == BN_CLICKED && (c->kind == ControlKind::PushButton || c->kind == ControlKind::RadioButton)) {
            r->events->windowCommand(controlId, Notification::Clicked);
        } else if (code == LBN_SELCHANGE && c->kind == ControlKind::ListBox) {
            r->events->windowCommand(controlId, Notification::SelectionChanged);
        }
        return TRUE;
    }
    case WM_CLOSE:
        if (r->events != nullptr) {
            r->events->windowClose();
        }
        return TRUE;
    case WM_SYSCOMMAND: {
        const auto command = static_cast<uint32_t>(wParam);
        if (r->events != nullptr &&
            std::find(r->menuCommands.begin(), r->menuCommands.end(), command) != r->menuCommands.end()) {
            r->events->windowSystemCommand(command);
            return TRUE;
        }
        return FALSE;
    }
    case WM_SETCURSOR:
        if (waitCursor_ > 0) {
            SetCursor(LoadCursor(nullptr, IDC_WAIT));
            SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_NOTIFY: {
        if (r->kind != Kind::Page) {
            return FALSE;
        }
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        LONG_PTR answer = 0;
        WizardButton button;
        bool report = true;
        switch (header->code) {
        case PSN_WIZBACK:
            button = WizardButton::Back;
            answer = RefusePageChange;
            break;
        case PSN_WIZNEXT:
            button = WizardButton::Next;
            answer = RefusePageChange;
            break;
        case PSN_WIZFINISH:
            button = WizardButton::Finish;
            answer = RefuseClose;
            break;
        case PSN_QUERYCANCEL:
            button = WizardButton::Cancel;
            answer = RefuseClose;
            break;
        case PSN_HELP:
            button = WizardButton::Help;
            break;
        default:
            // PSN_SETACTIVE, PSN_KILLACTIVE, PSN_APPLY, PSN_RESET: the page agrees; the layer
            // has made its decisions already.
            report = false;
            break;
        }
        if (report) {
            PostMessageA(messageWindow_, WmWizardButton, r->parent, static_cast<LPARAM>(button));
        }
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, answer);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK Win32Backend::placeholderProc(HWND hwnd, UINT message, WPARAM /*wParam*/, LPARAM lParam)
{
    // Shown only before the first page: the sheet's own buttons change nothing there either.
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        LONG_PTR answer = 0;
        if (header->code == PSN_WIZBACK || header->code == PSN_WIZNEXT) {
            answer = RefusePageChange;
        } else if (header->code == PSN_WIZFINISH || header->code == PSN_QUERYCANCEL) {
            answer = RefuseClose;
        }
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, answer);
        return TRUE;
    }
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

LRESULT CALLBACK Win32Backend::messageWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<Win32Backend*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    switch (message) {
    case WmDeliverPosted:
        self->deliverOnePosted();
        return 0;
    case WmWizardButton:
        if (Record* sheet = self->find(static_cast<WindowId>(wParam));
            sheet != nullptr && sheet->kind == Kind::Sheet && sheet->events != nullptr) {
            sheet->events->wizardButton(static_cast<WizardButton>(lParam));
        }
        return 0;
    case WmWake:
        return 0;
    case WM_TIMER: {
        auto it = self->timerOwners_.find(wParam);
        if (it == self->timerOwners_.end()) {
            return 0;
        }
        auto [window, timerId] = it->second;
        if (Record* r = self->find(window); r != nullptr && r->events != nullptr) {
            r->events->windowTimer(timerId);
        }
        return 0;
    }
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

// --- Messages and timers ---

void Win32Backend::queuePost(WindowId window, const PostedMessage& message)
{
    {
        std::lock_guard<Mutex> hold(postedLock_);
        posted_.push_back(Pending{window, message});
    }
    // One wake-up per message: each takes the oldest, so the order is the queue's.
    PostMessageA(messageWindow_, WmDeliverPosted, 0, 0);
}

void Win32Backend::post(WindowId window, const PostedMessage& message)
{
    queuePost(window, message);
}

void Win32Backend::postFromAnyThread(WindowId window, const PostedMessage& message)
{
    queuePost(window, message);
}

void Win32Backend::deliverOnePosted()
{
    Pending next;
    {
        std::lock_guard<Mutex> hold(postedLock_);
        if (posted_.empty()) {
            return;
        }
        next = posted_.front();
        posted_.pop_front();
    }
    if (Record* r = find(next.window); r != nullptr && r->events != nullptr) {
        r->events->windowPosted(next.message);
    }
}

void Win32Backend::setTimer(WindowId window, int timerId, uint32_t periodMs)
{
    Record* r = find(window);
    if (r == nullptr) {
        return;
    }
    auto it = r->timers.find(timerId);
    UINT_PTR key = it != r->timers.end() ? it->second : nextTimerKey_++;
    r->timers[timerId] = key;
    timerOwners_[key] = {window, timerId};
    SetTimer(messageWindow_, key, platform::ui::timerPeriod(periodMs), nullptr);
}

void Win32Backend::killTimer(WindowId window, int timerId)
{
    Record* r = find(window);
    if (r == nullptr) {
        return;
    }
    auto it = r->timers.find(timerId);
    if (it == r->timers.end()) {
        return;
    }
    KillTimer(messageWindow_, it->second);
    timerOwners_.erase(it->second);
    r->timers.erase(it);
    // A WM_TIMER already waiting finds no owner and is dropped.
}

// --- Pictures ---

void Win32Backend::setImage(WindowId window, int controlId, int32_t imageId)
{
    Record* r = find(window);
    if (r == nullptr || r->hwnd == nullptr) {
        return;
    }
    const ControlTemplate* c = r->dialog.find(controlId);
    HWND hwnd = c != nullptr && isPicture(c->kind) ? GetDlgItem(r->hwnd, controlId) : nullptr;
    if (hwnd == nullptr) {
        return;
    }
    HANDLE image = c->kind == ControlKind::Icon ? static_cast<HANDLE>(makeIcon(imageId))
                                                : static_cast<HANDLE>(makeBitmap(imageId));
    SendMessageA(hwnd, STM_SETIMAGE, c->kind == ControlKind::Icon ? IMAGE_ICON : IMAGE_BITMAP,
                 reinterpret_cast<LPARAM>(image));
    auto& held = r->images[controlId];
    releaseImage(c->kind, held.second);
    held = {c->kind, image};
}

// --- The window itself ---

void Win32Backend::setWindowIcon(WindowId window, int32_t imageId)
{
    Record* r = find(window);
    if (r == nullptr || r->hwnd == nullptr) {
        return;
    }
    HICON icon = makeIcon(imageId);
    if (icon == nullptr) {
        return;
    }
    HWND top = rootOf(r->hwnd);
    SendMessageA(top, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(top, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    // Owned by the window whose title bar shows it (a page's: its frame's).
    Record* owner = find(idOf(top));
    (owner != nullptr ? owner : r)->windowIcons.push_back(icon);
}

void Win32Backend::appendSystemMenuItem(WindowId window, uint32_t command, const std::string& text)
{
    Record* r = find(window);
    if (r == nullptr || r->hwnd == nullptr || r->kind != Kind::Dialog) {
        return;
    }
    HMENU menu = GetSystemMenu(r->hwnd, FALSE);
    if (command == platform::ui::SystemMenuSeparator) {
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        return;
    }
    AppendMenuA(menu, MF_STRING, command, text.c_str());
    r->menuCommands.push_back(command);
}

void Win32Backend::repaintNow(WindowId window)
{
    Record* r = find(window);
    if (r != nullptr && r->hwnd != nullptr) {
        RedrawWindow(rootOf(r->hwnd), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
}

// --- Message boxes and cursor ---

int Win32Backend::messageBox(WindowId owner, const std::string& text, const std::string& caption,
                             MessageBoxIcon icon, MessageBoxButtons buttons)
{
    UINT flags = buttons == MessageBoxButtons::YesNo ? MB_YESNO : MB_OK;
    switch (icon) {
    case MessageBoxIcon::Stop:
        flags |= MB_ICONHAND;
        break;
    case MessageBoxIcon::Information:
        flags |= MB_ICONINFORMATION;
        break;
    case MessageBoxIcon::Exclamation:
        flags |= MB_ICONEXCLAMATION;
        break;
    case MessageBoxIcon::None:
        break;
    }
    const Record* r = find(owner);
    HWND parent = r != nullptr ? rootOf(r->hwnd) : nullptr;
    int answer = MessageBoxA(parent, text.c_str(), caption.c_str(), flags);
    switch (answer) {
    case IDOK:
        return platform::ui::IdOk;
    case IDYES:
        return platform::ui::IdYes;
    case IDNO:
        return platform::ui::IdNo;
    default:
        return buttons == MessageBoxButtons::YesNo ? platform::ui::IdNo : platform::ui::IdCancel;
    }
}

void Win32Backend::beginWaitCursor()
{
    if (++waitCursor_ == 1) {
        SetCursor(LoadCursor(nullptr, IDC_WAIT));
    }
}

void Win32Backend::endWaitCursor()
{
    if (waitCursor_ > 0 && --waitCursor_ == 0) {
        SetCursor(LoadCursor(nullptr, IDC_ARROW));
    }
}

}  // namespace platform::win32ui
