// The headless window backend, the tests' double of the window layer (the product never links it):
// windows that exist only as records, for unit tests of the pages.
// Nothing is drawn; every control's state can be read back, and the test plays the user:
// it clicks controls, types into edit boxes, presses keys and wizard buttons, fires timers by
// letting time pass, answers message boxes and modal dialogs, and queues input that a long
// handler's pumpOne will take.
//
// Time: timers are due on the platform clock (platform/clock.h). runFor advances it with
// platform::sleepMs, which on a VirtualClock costs no real time and on the real clock waits.
// Message boxes: answered from a queue of scripted answers (when it is empty, the first button:
// IdOk or IdYes), each one
// recorded together with the visible state the test asked to capture (onMessageBox).
// Modal dialogs and a sheet's runModal: driven by a callback the test sets (onModal); without
// one a modal dialog records its texts and ends at once with IdOk, and a sheet ends as
// cancelled once no event is pending.
//
// Results: the user-action calls return false when the action was impossible (a disabled or
// unknown control, a hidden or disabled wizard button).
// Thread rule: UI thread (the test's thread) only, except postFromAnyThread: messages posted
// from other threads wait in an inbox until the UI thread next takes posted messages.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/threads.h"
#include "platform/ui/backend.h"

namespace platform::ui {

class HeadlessBackend : public Backend {
public:
    struct MessageBoxRecord {
        WindowId owner = NoWindow;
        std::string text;
        std::string caption;
        MessageBoxIcon icon = MessageBoxIcon::None;
        MessageBoxButtons buttons = MessageBoxButtons::Ok;
        int answer = IdOk;
    };

    // An item of a window's system menu (command SystemMenuSeparator: a separator).
    struct SystemMenuItem {
        uint32_t command = SystemMenuSeparator;
        std::string text;
        bool operator==(const SystemMenuItem&) const = default;
    };

    // A modal dialog as it looked when it was run.
    struct ModalRecord {
        WindowId window = NoWindow;
        std::string title;
        std::map<int, std::string> texts;  // addressable controls' texts by id
        std::vector<std::string> allTexts;  // every control's text in template order
        std::vector<int32_t> images;       // every control's image in template order
    };

    HeadlessBackend();
    ~HeadlessBackend() override;

    // --- The user ---
    bool click(WindowId window, int controlId);
    bool selectListItem(WindowId window, int controlId, int index);
    // Types characters as a user would: refused when disabled or read-only; digits-only and the
    // text limit are honoured (refused characters are dropped). Appends to the present text.
    bool typeText(WindowId window, int controlId, const std::string& characters);
    // The key goes to the window's preTranslate first; unconsumed Enter presses the default button.
    bool pressKey(WindowId window, int controlId, Key key);
    bool pressWizardButton(WindowId sheet, WizardButton button);
    bool closeWindow(WindowId window);
    // Chooses an item of the window's system menu; false when it has no item with that command.
    bool chooseSystemMenuItem(WindowId window, uint32_t command);
    // Input taken by a later pumpOne or modal loop, in turn with posted messages (for handlers
    // that run long and pump between steps).
    void queueInput(std::function<void()> input);

    // --- Time ---
    // Delivers every posted message (and messages they post in turn).
    void dispatchPosted();
    // Lets `ms` pass on the platform clock, firing due timers in due order (and delivering posted
    // messages after each event). A timer handler that takes long pushes later timers on.
    void runFor(uint32_t ms);
    // The timer with this id on the window fires now (if it is running).
    bool fireTimer(WindowId window, int timerId);
    bool timerActive(WindowId window, int timerId) const;
    uint32_t timerPeriod(WindowId window, int timerId) const;  // 0 when not running

    // --- Answers the test scripts ---
    void queueMessageBoxAnswer(int answer);
    // Called while a message box is up (before it is answered), e.g. to check a page's state.
    std::function<void(const MessageBoxRecord&)> onMessageBox;
    // Called when a window is repainted at once (Window::updateWindow), e.g. to see what the
    // user sees while a long handler runs.
    std::function<void(WindowId window)> onRepaint;
    // Called when runModal starts on a window (and again whenever its loop idles): act as the
    // user (click, press buttons, runFor). Return false to stop driving: a dialog then ends with
    // IdCancel, a sheet as cancelled.
    std::function<bool(WindowId window)> onModal;

    // --- What the windows look like ---
    bool exists(WindowId window) const;
    std::string windowTitle(WindowId window) const;  // a sheet: the shown page's title
    WindowId shownPage(WindowId sheet) const;
    WizardButtonsView wizardButtons(WindowId sheet) const;
    bool isModalRunning(WindowId window) const;
    // endModal was called for the window's running modal loop (it returns once the driving
    // callback hands back).
    bool modalEnding(WindowId window) const;
    std::vector<int32_t> listDataAll(WindowId window, int controlId) const;
    std::vector<std::string> listItems(WindowId window, int controlId) const;
    // Every text the code gave the control, in order (the template's text not included).
    std::vector<std::string> textHistory(WindowId window, int controlId) const;
    void clearTextHistory(WindowId window, int controlId);
    int32_t image(WindowId window, int controlId) const;  // NoImage when unknown
    int textLimit(WindowId window, int controlId) const;
    int32_t windowIcon(WindowId window) const;  // NoImage when none was set
    std::vector<SystemMenuItem> systemMenu(WindowId window) const;
    bool hasControl(WindowId window, int controlId) const;
    int waitCursorDepth() const { return waitCursor_; }
    int repaintCount(WindowId window) const;
    int postedPending() const;
    const std::vector<MessageBoxRecord>& messageBoxes() const { return messageBoxes_; }
    const std::vector<ModalRecord>& modalDialogs() const { return modals_; }
    int windowCount() const { return static_cast<int>(windows_.size()); }

    // --- Backend ---
    WindowId createDialog(const DialogTemplate& dialog, WindowId parent, WindowRole role,
                          WindowEvents* events) override;
    WindowId createSheet(WindowEvents* events) override;
    void destroyWindow(WindowId window) override;
    void showSheetPage(WindowId sheet, WindowId page) override;
    void setWizardButtons(WindowId sheet, const WizardButtonsView& view) override;
    int runModal(WindowId window) override;
    void endModal(WindowId window, int result) override;
    PumpResult pumpOne() override;
    void post(WindowId window, const PostedMessage& message) override;
    void postFromAnyThread(WindowId window, const PostedMessage& message) override;
    void setTimer(WindowId window, int timerId, uint32_t periodMs) override;
    void killTimer(WindowId window, int timerId) override;
    void setText(WindowId window, int controlId, const std::string& text) override;
    std::string text(WindowId window, int controlId) override;
    void setEnabled(WindowId window, int controlId, bool enabled) override;
    bool isEnabled(WindowId window, int controlId) override;
    void setToolTip(WindowId window, int controlId, const std::string& text) override;
    std::string toolTip(WindowId window, int controlId) override;
    void setChecked(WindowId window, int controlId, bool checked) override;
    bool isChecked(WindowId window, int controlId) override;
    void setImage(WindowId window, int controlId, int32_t imageId) override;
    void setProgressRange(WindowId window, int controlId, int low, int high) override;
    void setProgressPos(WindowId window, int controlId, int pos) override;
    int progressPos(WindowId window, int controlId) override;
    void listReset(WindowId window, int controlId) override;
    int listAdd(WindowId window, int controlId, const std::string& text) override;
    void listSetData(WindowId window, int controlId, int index, intptr_t data) override;
    intptr_t listData(WindowId window, int controlId, int index) override;
    int listCount(WindowId window, int controlId) override;
    std::string listText(WindowId window, int controlId, int index) override;
    int listSelection(WindowId window, int controlId) override;
    void listSelect(WindowId window, int controlId, int index) override;
    void setTextLimit(WindowId window, int controlId, int limit) override;
    int editLineCount(WindowId window, int controlId) override;
    int editLineIndex(WindowId window, int controlId, int line) override;
    int editLineLength(WindowId window, int controlId, int charIndex) override;
    void editSetSelection(WindowId window, int controlId, int start, int end) override;
    void editReplaceSelection(WindowId window, int controlId, const std::string& text) override;
    void setWindowIcon(WindowId window, int32_t imageId) override;
    void appendSystemMenuItem(WindowId window, uint32_t command, const std::string& text) override;
    int messageBox(WindowId owner, const std::string& text, const std::string& caption,
                   MessageBoxIcon icon, MessageBoxButtons buttons) override;
    void repaintNow(WindowId window) override;
    void beginWaitCursor() override { ++waitCursor_; }
    void endWaitCursor() override { --waitCursor_; }

private:
    struct Control {
        ControlTemplate tmpl;
        std::string text;
        std::vector<std::string> history;
        bool enabled = true;
        bool checked = false;
        std::string toolTip;
        int32_t image = 0;
        int rangeLow = 0;
        int rangeHigh = 100;
        int pos = 0;
        int limit = 0;
        std::vector<std::pair<std::string, intptr_t>> items;
        int selection = -1;
        int selStart = 0;
        int selEnd = 0;
    };
    struct Timer {
        uint32_t period = 0;
        Ticks due = 0;
        uint64_t order = 0;  // set order: ties fire in it
    };
    struct Win {
        WindowEvents* events = nullptr;
        WindowId parent = NoWindow;
        WindowRole role = WindowRole::ModalDialog;
        bool isSheet = false;
        std::string title;
        int enterCommand = IdOk;  // what Enter sends in a dialog
        std::vector<Control> controls;
        std::map<int, Timer> timers;
        WindowId shownPage = NoWindow;
        WizardButtonsView buttons;
        int32_t icon = 0;
        std::vector<SystemMenuItem> systemMenu;
        int repaints = 0;
        bool modalRunning = false;
        bool modalEnded = false;
        int modalResult = IdCancel;
    };

    Win* find(WindowId window);
    const Win* find(WindowId window) const;
    Control* control(WindowId window, int controlId);
    const Control* control(WindowId window, int controlId) const;
    bool dispatchOnePosted();
    // Moves messages posted from other threads to the end of pending_ (UI thread).
    void takeInbox();
    bool takeOne();
    bool fireDueTimer(Ticks now);
    void record(WindowId window);
    void pressDefault(WindowId window);

    std::map<WindowId, Win> windows_;
    WindowId nextId_ = 1;
    uint64_t timerOrder_ = 0;
    // Posted messages and queued input in the order they arrived: pumpOne and modal loops take
    // the front one whatever it is; dispatchPosted at top level takes only posted messages.
    struct Pending {
        WindowId window = NoWindow;
        PostedMessage message;
        std::function<void()> input;  // set for queued input
    };
    std::deque<Pending> pending_;
    // Messages posted from other threads, oldest first; the only state shared between threads.
    mutable platform::Mutex inboxMutex_;
    std::deque<std::pair<WindowId, PostedMessage>> inbox_;
    std::deque<int> answers_;
    std::vector<MessageBoxRecord> messageBoxes_;
    std::vector<ModalRecord> modals_;
    int waitCursor_ = 0;
    bool inPump_ = false;  // inside pumpOne: user actions take no posted messages along
};

// Installs a fresh headless backend as the backend in force for the life of the object; none is
// in force afterwards.
class ScopedHeadlessBackend {
public:
    ScopedHeadlessBackend();
    ~ScopedHeadlessBackend();
    ScopedHeadlessBackend(const ScopedHeadlessBackend&) = delete;
    ScopedHeadlessBackend& operator=(const ScopedHeadlessBackend&) = delete;
    HeadlessBackend& operator*() const { return *backend_; }
    HeadlessBackend* operator->() const { return backend_; }
    HeadlessBackend* get() const { return backend_; }

private:
    HeadlessBackend* backend_ = nullptr;
};

}  // namespace platform::ui
