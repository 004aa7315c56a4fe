// The window layer's Win32 backend (the native Windows build's windows): dialogs made from
// templates built in memory (dialog_memory_template.h) by CreateDialogIndirectParamA, the wizard
// frame as a modeless comctl32 property sheet in wizard mode with one PSP_DLGINDIRECT page per
// page window, modal loops of its own (the owner disabled, keys routed before IsDialogMessage /
// PSM_ISDIALOGMESSAGE), timers and posted messages through one hidden message window, message
// boxes, the wait cursor, window icons and system menu items.
//
// What it reports and what it refuses: WM_COMMAND (BN_CLICKED, LBN_SELCHANGE) from the user,
// WM_CLOSE, WM_TIMER, WM_SYSCOMMAND of appended items, and the sheet's own buttons (PSN_WIZBACK,
// PSN_WIZNEXT, PSN_WIZFINISH, PSN_QUERYCANCEL, PSN_HELP) go to the window's WindowEvents; the
// sheet's own page change and close are refused, so the layer above decides. The sheet's
// notifications arrive inside comctl32's button handling; they are reported once that handling
// has returned (posted to the message window), so a handler may switch pages or destroy the
// sheet safely.
//
// A sheet creates a page's dialog only when it is first selected; createDialog selects a new
// page at once (and then the page shown before again), so its controls exist when it returns.
//
// Thread rule: UI thread (the thread that made the backend) only, except postFromAnyThread,
// which is safe from any thread while the backend lives: it queues under a lock and wakes the UI
// thread with PostMessage to the message window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/threads.h"

namespace platform::win32ui {

class Win32Backend : public platform::ui::Backend {
public:
    Win32Backend();
    ~Win32Backend() override;
    Win32Backend(const Win32Backend&) = delete;
    Win32Backend& operator=(const Win32Backend&) = delete;

    // --- For tests and drivers: the system's handles ---
    HWND windowHandle(platform::ui::WindowId window) const;  // dialog, page or frame; null if none
    HWND controlHandle(platform::ui::WindowId window, int controlId) const;
    platform::ui::WindowId shownPage(platform::ui::WindowId sheet) const;
    // Windows that exist now, in order of creation; which are sheets; a dialog's or page's
    // template (null for a sheet or an unknown window); a sheet's buttons as the layer set them.
    std::vector<platform::ui::WindowId> windows() const;
    bool isSheet(platform::ui::WindowId window) const;
    const platform::ui::DialogTemplate* dialogTemplate(platform::ui::WindowId window) const;
    platform::ui::WizardButtonsView wizardButtons(platform::ui::WindowId sheet) const;
    int waitCursorDepth() const { return waitCursor_; }

    // --- Backend ---
    platform::ui::WindowId createDialog(const platform::ui::DialogTemplate& dialog,
                                        platform::ui::WindowId parent,
                                        platform::ui::WindowRole role,
                                        platform::ui::WindowEvents* events) override;
    platform::ui::WindowId createSheet(platform::ui::WindowEvents* events) override;
    void destroyWindow(platform::ui::WindowId window) override;
    void showSheetPage(platform::ui::WindowId sheet, platform::ui::WindowId page) override;
    void setWizardButtons(platform::ui::WindowId sheet,
                          const platform::ui::WizardButtonsView& view) override;
    int runModal(platform::ui::WindowId window) override;
    void endModal(platform::ui::WindowId window, int result) override;
    platform::ui::PumpResult pumpOne() override;
    void post(platform::ui::WindowId window, const platform::ui::PostedMessage& message) override;
    void postFromAnyThread(platform::ui::WindowId window,
                           const platform::ui::PostedMessage& message) override;
    void setTimer(platform::ui::WindowId window, int timerId, uint32_t periodMs) override;
    void killTimer(platform::ui::WindowId window, int timerId) override;
    void setText(platform::ui::WindowId window, int controlId, const std::string& text) override;
    std::string text(platform::ui::WindowId window, int controlId) override;
    void setEnabled(platform::ui::WindowId window, int controlId, bool enabled) override;
    bool isEnabled(platform::ui::WindowId window, int controlId) override;
    void setToolTip(platform::ui::WindowId window, int controlId, const std::string& text) override;
    std::string toolTip(platform::ui::WindowId window, int controlId) override;
    void setChecked(platform::ui::WindowId window, int controlId, bool checked) override;
    bool isChecked(platform::ui::WindowId window, int controlId) override;
    void setImage(platform::ui::WindowId window, int controlId, int32_t imageId) override;
    void setProgressRange(platform::ui::WindowId window, int controlId, int low, int high) override;
    void setProgressPos(platform::ui::WindowId window, int controlId, int pos) override;
    int progressPos(platform::ui::WindowId window, int controlId) override;
    void listReset(platform::ui::WindowId window, int controlId) override;
    int listAdd(platform::ui::WindowId window, int controlId, const std::string& text) override;
    void listSetData(platform::ui::WindowId window, int controlId, int index, intptr_t data) override;
    intptr_t listData(platform::ui::WindowId window, int controlId, int index) override;
    int listCount(platform::ui::WindowId window, int controlId) override;
    std::string listText(platform::ui::WindowId window, int controlId, int index) override;
    int listSelection(platform::ui::WindowId window, int controlId) override;
    void listSelect(platform::ui::WindowId window, int controlId, int index) override;
    void setTextLimit(platform::ui::WindowId window, int controlId, int limit) override;
    int editLineCount(platform::ui::WindowId window, int controlId) override;
    int editLineIndex(platform::ui::WindowId window, int controlId, int line) override;
    int editLineLength(platform::ui::WindowId window, int controlId, int charIndex) override;
    void editSetSelection(platform::ui::WindowId window, int controlId, int start, int end) override;
    void editReplaceSelection(platform::ui::WindowId window, int controlId,
                              const std::string& text) override;
    void setWindowIcon(platform::ui::WindowId window, int32_t imageId) override;
    void appendSystemMenuItem(platform::ui::WindowId window, uint32_t command,
                              const std::string& text) override;
    void repaintNow(platform::ui::WindowId window) override;
    int messageBox(platform::ui::WindowId owner, const std::string& text,
                   const std::string& caption, platform::ui::MessageBoxIcon icon,
                   platform::ui::MessageBoxButtons buttons) override;
    void beginWaitCursor() override;
    void endWaitCursor() override;

private:
    enum class Kind { Dialog, Page, Sheet };
    using TemplateBytes = std::shared_ptr<std::vector<WORD>>;
    struct Record {
        Kind kind = Kind::Dialog;
        platform::ui::WindowEvents* events = nullptr;
        platform::ui::WindowId parent = platform::ui::NoWindow;
        HWND hwnd = nullptr;
        platform::ui::DialogTemplate dialog;         // dialogs and pages
        HPROPSHEETPAGE page = nullptr;               // pages
        std::map<int, UINT_PTR> timers;              // timer id -> the message window's timer
        std::map<int, std::pair<platform::ui::ControlKind, HANDLE>> images;  // by control
        std::vector<std::pair<platform::ui::ControlKind, HANDLE>> laterImages;  // its pages' left
        std::vector<HICON> windowIcons;              // WM_SETICON, owned
        std::vector<uint32_t> menuCommands;          // appended system menu items
        HWND toolTips = nullptr;                     // its tool tip control, made on first use
        std::map<int, std::string> tips;             // tool tip texts by control
        bool modal = false;                          // runModal runs for it
        bool ended = false;                          // endModal was called
        int result = 0;
        // Sheets: the buttons as the layer asked, the page shown, the pages' template bytes
        // (the sheet may read them until it goes) and the empty page that sizes a new frame.
        platform::ui::WizardButtonsView buttons;
        platform::ui::WindowId shown = platform::ui::NoWindow;
        std::vector<TemplateBytes> pageTemplates;
        HPROPSHEETPAGE placeholder = nullptr;
    };
    struct Pending {
        platform::ui::WindowId window;
        platform::ui::PostedMessage message;
    };

    static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK placeholderProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK messageWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static int CALLBACK sheetCallback(HWND hwnd, UINT message, LPARAM lParam);

    Record* find(platform::ui::WindowId window);
    const Record* find(platform::ui::WindowId window) const;
    platform::ui::WindowId idOf(HWND hwnd) const;
    HWND control(platform::ui::WindowId window, int controlId, platform::ui::ControlKind kind) const;
    void prepareControls(Record& record);
    void giveApplicationIcon(Record& record);
    void applyButtons(Record& sheet);
    // Handles Enter and Escape typed in a dialog or page before the dialog manager sees them;
    // true when taken.
    bool routeKey(const MSG& message);
    void processMessage(MSG& message);
    INT_PTR handleDialogMessage(platform::ui::WindowId id, HWND hwnd, UINT message, WPARAM wParam,
                                LPARAM lParam);
    void deliverOnePosted();
    void queuePost(platform::ui::WindowId window, const platform::ui::PostedMessage& message);
    std::string controlText(HWND control) const;
    int caretOf(HWND edit) const;

    HWND messageWindow_ = nullptr;
    std::map<platform::ui::WindowId, Record> windows_;
    std::map<HWND, platform::ui::WindowId> byHwnd_;
    std::map<UINT_PTR, std::pair<platform::ui::WindowId, int>> timerOwners_;
    UINT_PTR nextTimerKey_ = 1;
    platform::ui::WindowId nextId_ = 1;
    platform::ui::WindowId creating_ = platform::ui::NoWindow;  // the window being made now
    int waitCursor_ = 0;
    Mutex postedLock_;
    std::deque<Pending> posted_;  // under postedLock_
};

}  // namespace platform::win32ui
