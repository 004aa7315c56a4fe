// Tarvo32 with a driver that clicks through its windows, for the Windows build's run under Wine
// (scripts/run-win32-gui-tests.sh): the program itself, drawn by the Win32 backend, with a timer
// of the UI thread that acts as the user once the shown window has settled. On the wizard it
// presses Help once (and the About box's OK), chooses the first modem found in a list, then Next
// on every page and Finish on the last; it answers message boxes with OK (or Yes); in a dialog of
// its own it presses the default button once (the About box's OK; the production station's
// "Upgrade firmware") and, should the dialog still be there a while later, its other push button
// (the station's "Exit when appropriate", which closes it once no upload runs). With
// TARVO_SCREENSHOT_DIR set it saves each wizard page, the About box and each message box as a
// BMP picture there before acting on it. With TARVO_DRIVER_CANCEL_ON_PAGE=N it presses Cancel
// on the N-th page it sees instead of going on; with TARVO_DRIVER_CLICK=ID it clicks the control
// of that id once, as soon as a shown page has it enabled (the driver page's "No" answer, which
// keeps the restart from ending the session).
// Built as wizard-driver/Tarvo32.exe, so that it names itself and finds its Tarvo32.ini as the
// program does.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/commands.h"
#include "platform/ui/backend.h"
#include "platform/ui/control_rules.h"
#include "platform/win32/window/win32_backend.h"
#include "resources/icons/pictures.h"

namespace {

using platform::ui::ControlKind;
using platform::ui::NoWindow;
using platform::ui::WindowId;
using platform::win32ui::Win32Backend;

constexpr UINT TickMs = 250;
// A window counts as settled when the driver has not acted for this long.
constexpr DWORD SettledMs = 1500;
// How long a dialog that stays after its default button runs before its other button is pressed.
constexpr DWORD DialogRunMs = 25000;
constexpr const char* DirectoryVariable = "TARVO_SCREENSHOT_DIR";
constexpr const char* MessageBoxClass = "#32770";
constexpr const char* CancelVariable = "TARVO_DRIVER_CANCEL_ON_PAGE";
constexpr const char* ClickVariable = "TARVO_DRIVER_CLICK";

struct Driver {
    DWORD lastAction = 0;
    bool inTick = false;
    bool helpPressed = false;
    WindowId page = NoWindow;
    std::set<WindowId> listChosen;
    std::set<WindowId> captured;
    std::map<WindowId, DWORD> defaultPressed;  // dialog -> when
    std::set<WindowId> otherPressed;
    int messages = 0;
    std::string shots;
    size_t cancelOnPage = 0;  // 0: never
    int clickId = 0;          // 0: none
    bool clicked = false;
};

Driver driver;

void acted()
{
    driver.lastAction = GetTickCount();
}

bool settled()
{
    return GetTickCount() - driver.lastAction >= SettledMs;
}

// The window's picture as a 24-bit BMP, from the screen as it shows it.
void save(HWND window, const std::string& name)
{
    if (driver.shots.empty() || window == nullptr) {
        return;
    }
    RECT r;
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) {
        return;
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file keeps it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    const DWORD size = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + size;
    std::string path = driver.shots + "\\" + name;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(&file, sizeof(file), 1, f);
        std::fwrite(&info.bmiHeader, sizeof(BITMAPINFOHEADER), 1, f);
        std::fwrite(bits, 1, size, f);
        std::fclose(f);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

struct Found {
    Win32Backend* ui;
    std::vector<HWND> boxes;  // visible top-level windows that are not the backend's
};

BOOL CALLBACK collect(HWND hwnd, LPARAM data)
{
    auto* found = reinterpret_cast<Found*>(data);
    if (!IsWindowVisible(hwnd)) {
        return TRUE;
    }
    for (WindowId id : found->ui->windows()) {
        if (found->ui->windowHandle(id) == hwnd) {
            return TRUE;
        }
    }
    char cls[32] = {};
    GetClassNameA(hwnd, cls, sizeof(cls));
    if (std::string(cls) == MessageBoxClass) {
        found->boxes.push_back(hwnd);
    }
    return TRUE;
}

void click(HWND button)
{
    PostMessageA(button, BM_CLICK, 0, 0);
    acted();
}

void answerMessageBox(HWND box)
{
    save(box, "message" + std::to_string(++driver.messages) + ".bmp");
    HWND yes = GetDlgItem(box, IDYES);
    click(yes != nullptr ? yes : GetDlgItem(box, IDOK));
}

// A dialog of the program's own, shown modally over everything else.
bool driveDialog(Win32Backend& ui, WindowId id)
{
    HWND hwnd = ui.windowHandle(id);
    const platform::ui::DialogTemplate* dialog = ui.dialogTemplate(id);
    if (hwnd == nullptr || dialog == nullptr || !IsWindowVisible(hwnd) || !IsWindowEnabled(hwnd)) {
        return false;
    }
    if (!settled()) {
        return true;
    }
    auto pressed = driver.defaultPressed.find(id);
    if (pressed == driver.defaultPressed.end()) {
        driver.defaultPressed[id] = GetTickCount();
        save(hwnd, "dialog" + std::to_string(id) + ".bmp");
        HWND button = GetDlgItem(hwnd, platform::ui::enterCommandId(*dialog));
        if (button != nullptr && IsWindowEnabled(button)) {
            click(button);
        }
    } else if (GetTickCount() - pressed->second >= DialogRunMs && driver.otherPressed.insert(id).second) {
        save(hwnd, "dialog" + std::to_string(id) + "-running.bmp");
        const int defaultId = platform::ui::enterCommandId(*dialog);
        for (const platform::ui::ControlTemplate& c : dialog->controls) {
            HWND button = c.kind == ControlKind::PushButton && c.id != defaultId ? GetDlgItem(hwnd, c.id) : nullptr;
            if (button != nullptr && IsWindowEnabled(button)) {
                click(button);
                break;
            }
        }
    }
    return true;
}

void driveSheet(Win32Backend& ui, WindowId sheet)
{
    HWND frame = ui.windowHandle(sheet);
    WindowId page = ui.shownPage(sheet);
    const platform::ui::DialogTemplate* dialog = ui.dialogTemplate(page);
    if (frame == nullptr || dialog == nullptr || !IsWindowVisible(frame) || !IsWindowEnabled(frame)) {
        return;
    }
    if (page != driver.page) {
        driver.page = page;
        acted();
    }
    if (!settled()) {
        return;
    }
    HWND pageWindow = ui.windowHandle(page);
    for (const platform::ui::ControlTemplate& c : dialog->controls) {
        HWND list = c.kind == ControlKind::ListBox ? GetDlgItem(pageWindow, c.id) : nullptr;
        if (list != nullptr && SendMessageA(list, LB_GETCOUNT, 0, 0) > 0 && SendMessageA(list, LB_GETCURSEL, 0, 0) < 0 &&
            driver.listChosen.insert(page).second) {
            // As the user's click: the row selected, then the page told.
            SendMessageA(list, LB_SETCURSEL, 0, 0);
            PostMessageA(pageWindow, WM_COMMAND, MAKEWPARAM(c.id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
            acted();
            return;
        }
    }
    if (driver.captured.insert(page).second) {
        save(frame, "page" + std::to_string(driver.captured.size()) + ".bmp");
    }
    if (driver.clickId != 0 && !driver.clicked) {
        HWND control = GetDlgItem(pageWindow, driver.clickId);
        if (control != nullptr && IsWindowEnabled(control)) {
            driver.clicked = true;
            click(control);
            return;
        }
    }
    platform::ui::WizardButtonsView buttons = ui.wizardButtons(sheet);
    int press = -1;
    if (driver.cancelOnPage != 0 && driver.captured.size() >= driver.cancelOnPage) {
        press = PSBTN_CANCEL;
    } else if (!driver.helpPressed) {
        driver.helpPressed = true;
        press = PSBTN_HELP;
    } else if (buttons.nextVisible && !buttons.finishVisible && buttons.nextEnabled) {
        press = PSBTN_NEXT;
    } else if (buttons.finishVisible && buttons.finishEnabled) {
        press = PSBTN_FINISH;
    }
    if (press >= 0) {
        PostMessageA(frame, PSM_PRESSBUTTON, static_cast<WPARAM>(press), 0);
        acted();
    }
}

void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD)
{
    // A press may open a modal loop inside this very call's successors; one tick at a time.
    if (driver.inTick || !platform::ui::backendAvailable()) {
        return;
    }
    driver.inTick = true;
    auto* ui = dynamic_cast<Win32Backend*>(&platform::ui::backend());
    if (ui != nullptr) {
        Found found{ui, {}};
        EnumThreadWindows(GetCurrentThreadId(), collect, reinterpret_cast<LPARAM>(&found));
        bool busy = false;
        if (!found.boxes.empty()) {
            if (settled()) {
                answerMessageBox(found.boxes.back());
            }
            busy = true;
        }
        // The newest dialog first: the About box over the wizard.
        std::vector<WindowId> ids = ui->windows();
        for (auto it = ids.rbegin(); !busy && it != ids.rend(); ++it) {
            if (!ui->isSheet(*it) && ui->dialogTemplate(*it) != nullptr && ui->windowHandle(*it) != nullptr &&
                (GetWindowLongA(ui->windowHandle(*it), GWL_STYLE) & WS_CHILD) == 0) {
                busy = driveDialog(*ui, *it);
            }
        }
        for (WindowId id : ids) {
            if (!busy && ui->isSheet(id)) {
                driveSheet(*ui, id);
            }
        }
    }
    driver.inTick = false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (const char* shots = std::getenv(DirectoryVariable)) {
        driver.shots = shots;
        CreateDirectoryA(shots, nullptr);
    }
    if (const char* cancel = std::getenv(CancelVariable)) {
        driver.cancelOnPage = static_cast<size_t>(std::strtoul(cancel, nullptr, 10));
    }
    if (const char* id = std::getenv(ClickVariable)) {
        driver.clickId = static_cast<int>(std::strtol(id, nullptr, 10));
    }
    resources::installPictures();
    if (!platform::ui::installWindowBackend(argc, argv)) {
        return 1;
    }
    acted();
    SetTimer(nullptr, 0, TickMs, tick);
    return runApplication();
}
