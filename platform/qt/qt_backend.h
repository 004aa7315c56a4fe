// The window layer's Qt 6 Widgets backend: dialogs and pages built from their templates
// (DialogView), the wizard frame (WizardFrame), timers by window and id, posted messages in
// order, nested modal loops, message boxes captioned by the caller, the wait cursor, and the
// keys Enter and Escape routed through the owning window's pre-translate hook before anything
// else sees them.
//
// A dialog's system menu belongs to the window manager on Linux, which has no room for items of
// ours. A dialog that appends items gets a menu of its own instead, reached three ways: a small
// button with the window's icon in its top-left corner (where the system menu's icon sits in a
// title bar), Alt+Space or Shift+F10 (the system menu's keys) and the context menu (right click,
// or the menu key) anywhere on the dialog.
//
// installBackend() (what main() reaches through platform::ui::installWindowBackend) makes the
// QApplication and installs a factory for this backend. Tests make their own QApplication and
// install a QtBackend directly; the accessors below let them and the screenshot tool
// (tools/screenshots, a wrapper around this backend) reach the widgets.
//
// Results: as platform/ui/backend.h; installBackend returns false (after saying why on stderr)
// when there is no display to draw on.
// Thread rule: UI thread (the thread that made the QApplication) only, except
// postFromAnyThread, which hands the message to the UI thread through Qt's own thread-safe
// event queue.
#pragma once

#include <QObject>
#include <QPointer>

#include <deque>
#include <map>
#include <memory>

#include "platform/ui/backend.h"

class QEventLoop;
class QMenu;
class QTimer;
class QToolButton;
class QWidget;

namespace platform::qt {

class DialogView;
class WizardFrame;

// Makes the QApplication (once) and installs the Qt backend's factory. False when no display
// is configured: neither DISPLAY nor WAYLAND_DISPLAY nor QT_QPA_PLATFORM is set.
bool installBackend(int argc, char** argv);

class QtBackend : public QObject, public platform::ui::Backend {
public:
    QtBackend();
    ~QtBackend() override;

    // --- For tests and the screenshot tool (tools/screenshots) ---
    QWidget* topLevel(platform::ui::WindowId window) const;  // dialog or frame window
    DialogView* view(platform::ui::WindowId window) const;   // a dialog's or a page's controls
    WizardFrame* frame(platform::ui::WindowId sheet) const;
    platform::ui::WindowId activePage(platform::ui::WindowId sheet) const;
    // Windows that exist now, in order of creation.
    std::vector<platform::ui::WindowId> windows() const;
    // The template title of a dialog or page.
    std::string title(platform::ui::WindowId window) const;
    int waitCursorDepth() const { return waitCursor_; }
    // A dialog's stand-in system menu and the button that opens it; null without items.
    QMenu* systemMenu(platform::ui::WindowId window) const;
    QToolButton* systemMenuButton(platform::ui::WindowId window) const;
    // Opens the stand-in system menu below its button with the first item active (what
    // Alt+Space does).
    void openSystemMenu(platform::ui::WindowId window);

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
    int messageBox(platform::ui::WindowId owner, const std::string& text,
                   const std::string& caption, platform::ui::MessageBoxIcon icon,
                   platform::ui::MessageBoxButtons buttons) override;
    void repaintNow(platform::ui::WindowId window) override;
    void beginWaitCursor() override;
    void endWaitCursor() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Kind { Dialog, Page, Sheet };
    struct Record {
        Kind kind = Kind::Dialog;
        platform::ui::WindowEvents* events = nullptr;
        platform::ui::WindowId parent = platform::ui::NoWindow;
        std::string title;
        QPointer<QWidget> top;          // the dialog or frame window (a page: its frame's)
        QPointer<DialogView> view;      // dialogs and pages
        QPointer<WizardFrame> frame;    // sheets
        platform::ui::WindowId activePage = platform::ui::NoWindow;  // sheets
        std::map<int, QTimer*> timers;
        QPointer<QMenu> systemMenu;        // dialogs with system-menu items
        QPointer<QToolButton> menuButton;
        QEventLoop* loop = nullptr;     // while runModal runs for it
        bool endPending = false;        // endModal came before runModal
        int endResult = 0;
    };
    struct Pending {
        platform::ui::WindowId window;
        platform::ui::PostedMessage message;
    };

    Record* find(platform::ui::WindowId window);
    // The keyboard focus to the active page's first tab stop, else to the default button, else
    // to the frame.
    void focusPage(Record& sheet);
    const Record* find(platform::ui::WindowId window) const;
    DialogView* viewOf(platform::ui::WindowId window) const;
    void deliverOnePosted();
    void scheduleDelivery();
    void timerFired(platform::ui::WindowId window, int timerId);
    // The window and control a widget belongs to; NoWindow when it is none of ours.
    platform::ui::WindowId ownerOf(QWidget* widget, int& controlId) const;
    bool routeKey(QWidget* target, platform::ui::Key key);

    std::map<platform::ui::WindowId, Record> windows_;
    platform::ui::WindowId nextId_ = 1;
    std::deque<Pending> posted_;
    bool inPump_ = false;      // pumpOne is letting Qt handle its events
    int waitCursor_ = 0;
};

}  // namespace platform::qt
