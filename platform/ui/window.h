// The window layer's classes the program's windows are written in: Dialog (a modal dialog from a
// template), Page (a wizard page) and Sheet (the wizard frame holding the pages, sheet.h). They keep all
// behaviour that does not depend on how windows are drawn: page order, when OnInitDialog,
// OnSetActive and OnKillActive run, the wizard button requests (PSM_SETWIZBUTTONS posted,
// PSM_SETFINISHTEXT and PSM_PRESSBUTTON sent), Help routed to the sheet's winHelp, and message
// boxes captioned with the application's name. Drawing is the backend's (backend.h).
//
// Handlers are virtual members that a window overrides; each runs on the UI thread, one at a
// time, possibly nested inside another one's pumpOneMessage or modal loop. A window's backend
// window exists from create (for a page: its first activation) until destroy; control calls
// before or after that are ignored.
//
// Navigation while a handler is still running (a nested message pump) is refused: Back, Next
// and Help pressed then are ignored; Cancel and the close box end the sheet as soon as the
// running handler returns, and Page::pumpOneMessage reports Closing so long work can stop.
//
// Results: handlers follow the framework's (true = go on); messageBox returns the answer id.
// Thread rule: UI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/ui/dialog_template.h"

namespace platform::ui {

// Message numbers, as the framework numbers them.
constexpr uint32_t WmUser = 0x0400;
constexpr uint32_t PsmSetWizButtons = WmUser + 112;  // posted to the sheet; lParam = flags

// PSM_SETWIZBUTTONS flags.
constexpr uint32_t WizBack = 1;
constexpr uint32_t WizNext = 2;
constexpr uint32_t WizFinish = 4;
constexpr uint32_t WizDisabledFinish = 8;

// PSM_PRESSBUTTON buttons.
enum class SheetButton { Back, Next, Finish, Cancel, Help };

// Results of a sheet's modal run.
constexpr int SheetFinished = 12325;  // ID_WIZFINISH
constexpr int SheetCancelled = IdCancel;

// The executable's file name without its extension ("Tarvo32"); the caption of message boxes
// that have none of their own.
std::string applicationName();

// Depth of handlers running right now (0 between two events). Tests and the layer use it to
// tell a nested event from a top-level one.
int dispatchDepth();

class Sheet;

// A window made from a template: the part Dialog and Page share.
class Window : protected WindowEvents {
public:
    explicit Window(DialogTemplate dialog);
    ~Window() override;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    WindowId handle() const { return handle_; }
    bool hasWindow() const { return handle_ != NoWindow; }
    const DialogTemplate& dialogTemplate() const { return template_; }

    // Controls by id.
    void setItemText(int controlId, const std::string& text);
    std::string itemText(int controlId) const;
    void enableItem(int controlId, bool enabled);
    bool itemEnabled(int controlId) const;
    void checkItem(int controlId, bool checked);
    bool itemChecked(int controlId) const;
    void setItemImage(int controlId, int32_t imageId);
    // The control's tool tip (empty: none).
    void setItemToolTip(int controlId, const std::string& text);
    std::string itemToolTip(int controlId) const;
    void setProgressRange(int controlId, int low, int high);
    void setProgressPos(int controlId, int pos);
    // Paints the changes now (UpdateWindow), for a handler that keeps the UI thread busy.
    void updateWindow();

    // Timers and messages to oneself.
    void setTimer(int timerId, uint32_t periodMs);
    void killTimer(int timerId);
    void postMessage(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);

    // A modal message box owned by this window, captioned with applicationName(), button OK.
    int messageBox(const std::string& text, MessageBoxIcon icon);
    // The same with a caption and buttons of the caller's; the answer id (IdOk, IdYes, IdNo).
    int messageBox(const std::string& text, const std::string& caption, MessageBoxIcon icon,
                   MessageBoxButtons buttons);

    // The window's big and small icon; an item appended to its system menu (SystemMenuSeparator
    // for a separator), reported to onSysCommand when chosen.
    void setIcon(int32_t imageId);
    void appendSystemMenu(uint32_t command, const std::string& text);

protected:
    // Handlers; the defaults do nothing (onInitDialog returns true).
    virtual bool onInitDialog() { return true; }
    virtual void onTimer(int /*timerId*/) {}
    virtual void onCommand(int /*controlId*/, Notification /*code*/) {}
    virtual void onUserMessage(const PostedMessage& /*message*/) {}
    // Before a key reaches a control's own handling (PreTranslateMessage): true consumes it.
    virtual bool preTranslateKey(int /*controlId*/, Key /*key*/) { return false; }
    // The window is going away: its timers still exist until this returns.
    virtual void onDestroy() {}
    // Close box or Escape.
    virtual void onClose() {}
    // An item appended to the system menu was chosen.
    virtual void onSysCommand(uint32_t /*command*/) {}

    // Makes the backend window and runs onInitDialog.
    void createWindow(WindowId parent, WindowRole role);
    // Runs onDestroy and removes the backend window (no-op without one).
    void destroyWindow();

    // WindowEvents, dispatched to the handlers above.
    void windowTimer(int timerId) override;
    void windowCommand(int controlId, Notification code) override;
    void windowPosted(const PostedMessage& message) override;
    bool windowKey(int controlId, Key key) override;
    void windowClose() override;
    void wizardButton(WizardButton) override {}
    void windowSystemCommand(uint32_t command) override;

private:
    DialogTemplate template_;
    WindowId handle_ = NoWindow;
};

// A modal dialog: run() creates it, runs it until endDialog, destroys it.
class Dialog : public Window {
public:
    explicit Dialog(DialogTemplate dialog) : Window(std::move(dialog)) {}
    // Returns the value given to endDialog (IdCancel when closed by the close box).
    int run(WindowId owner = NoWindow);
    void endDialog(int result);

protected:
    // OK and Cancel push buttons end the dialog with their id.
    void onCommand(int controlId, Notification code) override;
    void onClose() override { endDialog(IdCancel); }
};

// A page of a Sheet. Its backend window is made on its first activation (OnInitDialog runs then,
// once) and lives until the sheet closes.
class Page : public Window {
public:
    explicit Page(DialogTemplate dialog) : Window(std::move(dialog)) {}

    Sheet* sheet() const { return sheet_; }

    // The framework's activation and leave: the defaults return true.
    virtual bool onSetActive() { return true; }
    virtual bool onKillActive() { return true; }

    // Requests to the sheet, shaped like the framework's.
    void postWizardButtons(uint32_t flags);  // PSM_SETWIZBUTTONS, posted
    void setFinishText(const std::string& text);  // PSM_SETFINISHTEXT, sent
    void pressButton(SheetButton button);  // PSM_PRESSBUTTON, sent

    // Takes at most one pending message and handles it (long work on the UI thread between two
    // steps). Closing: the sheet is ending (Cancel, close box, Finish) and the work should stop
    // now; the window is destroyed after the running handler returns.
    enum class PumpOutcome { Nothing, Dispatched, Closing };
    PumpOutcome pumpOneMessage();

protected:
    // The close box of a page is the sheet's.
    void windowClose() override;

private:
    friend class Sheet;
    Sheet* sheet_ = nullptr;
};

// A list box of a window, by id.
class ListBoxControl {
public:
    ListBoxControl(const Window& owner, int controlId) : owner_(&owner), id_(controlId) {}
    void resetContent();
    int addString(const std::string& text);  // index, -1 on failure
    void setItemData(int index, intptr_t data);
    intptr_t itemData(int index) const;
    int count() const;  // -1 when the list cannot tell
    std::string text(int index) const;
    int curSel() const;  // -1 when none
    void setCurSel(int index);  // -1 removes the selection

private:
    const Window* owner_;
    int id_;
};

// An edit box of a window, by id.
class EditControl {
public:
    EditControl(const Window& owner, int controlId) : owner_(&owner), id_(controlId) {}
    virtual ~EditControl() = default;
    void setText(const std::string& text);
    std::string text() const;
    void setLimitText(int limit);
    int lineCount() const;
    int lineIndex(int line) const;
    int lineLength(int charIndex) const;
    void setSel(int start, int end);
    void replaceSel(const std::string& text);

private:
    const Window* owner_;
    int id_;
};

// Shows the wait cursor for its life.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace platform::ui
