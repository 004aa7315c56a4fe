// The window layer's backend: the small set of operations that turn templates into real windows,
// keep their controls' state, run timers, deliver posted messages and run modal loops. The
// platform-neutral classes of platform/ui/window.h (Dialog, Page, Sheet) are written against this
// interface only; each backend implements it once: the Qt one (platform/qt/), a property-sheet
// one on Windows, and HeadlessBackend (tests/support/headless_backend.h), the tests' double.
// Rules that do not depend on drawing (edit lines, sorted lists, the timer minimum, what Enter
// presses) are in platform/ui/control_rules.h for every backend to call, and one contract suite
// (tests/support/backend_contract.h) runs against each backend.
//
// What a backend owns and what it leaves to the layer above:
// - It draws and stores. All behaviour (page order, OnInitDialog / OnSetActive / OnKillActive,
//   which wizard buttons show, what Back, Next, Finish, Cancel and Help do) lives in window.h;
//   the backend reports raw events to the window's WindowEvents and does as it is told.
// - Events go to the WindowEvents given at creation, always on the UI thread, never after
//   destroyWindow for that window. The layer above may call the backend again from inside an
//   event (nested calls are normal: a handler sets texts, posts, runs a message box, runs a
//   modal dialog, or calls pumpOne).
// - Posted messages are delivered in the order posted, each only after the handler that posted
//   it has returned to the event loop (or through pumpOne). Messages for a window destroyed
//   before delivery are dropped.
// - Timers: setTimer(id) on a window (re)starts a periodic timer with that id; killTimer stops
//   it; destroyWindow stops all of the window's timers. A timer whose period passed several
//   times while the UI thread was busy fires once.
// - Control calls on an unknown window or control id are ignored (getters return the value
//   given in their comment). Setting a control's state from code sends no notification.
//
// - postFromAnyThread is PostMessage as other threads use it (a listener thread reporting device
//   arrivals): the message joins the window's posted messages on the UI thread, in the order that
//   thread posted them, and is handled there like any other posted message.
//
// Results: WindowId 0 is "no window"; counts and indexes use -1 for "none" or failure.
// Thread rule: every call on the UI thread only, except postFromAnyThread (and the free function
// postMessageFromAnyThread), which is safe from any thread for as long as the backend lives.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/ui/dialog_template.h"

namespace platform::ui {

using WindowId = uint32_t;
constexpr WindowId NoWindow = 0;

// What a control tells its window.
enum class Notification {
    Clicked,           // push button or radio button clicked (by the user)
    SelectionChanged,  // the user changed a list box's selection
};

enum class Key {
    Enter,
    Escape,
};

enum class WizardButton {
    Back,
    Next,
    Finish,
    Cancel,
    Help,
};

// Which wizard buttons the frame shows and which of them are enabled. Cancel and Help are always
// shown and enabled. When finishVisible is set the Finish button takes Next's place.
struct WizardButtonsView {
    bool backVisible = true;
    bool backEnabled = false;
    bool nextVisible = true;
    bool nextEnabled = false;
    bool finishVisible = false;
    bool finishEnabled = false;
    std::string finishText = "Finish";

    bool operator==(const WizardButtonsView&) const = default;
};

enum class MessageBoxIcon {
    None,
    Stop,         // error
    Information,
    Exclamation,
};

// A message posted to a window (the Win32 PostMessage shape).
struct PostedMessage {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

// The buttons of a message box (MB_OK, MB_YESNO).
enum class MessageBoxButtons {
    Ok,     // answers IdOk
    YesNo,  // answers IdYes or IdNo
};

// A window's system menu: the command of an appended separator (AppendMenu's MF_SEPARATOR).
constexpr uint32_t SystemMenuSeparator = 0;

// Roles of a window made from a template.
enum class WindowRole {
    ModalDialog,  // shown by runModal, owned by the parent (which may be NoWindow)
    SheetPage,    // a page inside a sheet frame (the parent); shown by showSheetPage
};

// Implemented by the layer above (window.h); the backend calls it.
class WindowEvents {
public:
    virtual ~WindowEvents() = default;
    // A timer of this window fired.
    virtual void windowTimer(int timerId) = 0;
    // A control of this window notified.
    virtual void windowCommand(int controlId, Notification code) = 0;
    // A message posted to this window (Window::postMessage) is delivered.
    virtual void windowPosted(const PostedMessage& message) = 0;
    // A key went to a control of this window, before the backend's own handling. True consumes
    // it; otherwise the backend acts as usual (Enter presses the default button: in a sheet page
    // the enabled one of Next / Finish, in a dialog its StyleDefaultButton; Escape closes as
    // Cancel). Backends must report at least Enter and Escape typed in an edit box.
    virtual bool windowKey(int controlId, Key key) = 0;
    // The close box (or Escape, unconsumed) of a dialog or a sheet frame.
    virtual void windowClose() = 0;
    // A button of a sheet frame was pressed by the user (only for windows made by createSheet).
    virtual void wizardButton(WizardButton button) = 0;
    // The user chose an item appended to the window's system menu (WM_SYSCOMMAND with the
    // item's command). Windows without such items never receive it.
    virtual void windowSystemCommand(uint32_t /*command*/) {}
};

// What pumpOne did.
enum class PumpResult {
    Nothing,     // no pending message or input
    Dispatched,  // one message, input event or timer was handled
};

class Backend {
public:
    virtual ~Backend() = default;

    // --- Windows ---
    // A window made from a template, not yet visible. All its controls exist afterwards, with the
    // template's texts, styles, images and text limits.
    virtual WindowId createDialog(const DialogTemplate& dialog, WindowId parent, WindowRole role,
                                  WindowEvents* events) = 0;
    // The wizard frame: a page area, Back / Next / Finish / Cancel / Help, not yet visible.
    virtual WindowId createSheet(WindowEvents* events) = 0;
    // Stops the window's timers, drops its pending posted messages and removes it; a sheet's
    // pages are destroyed by the layer before the sheet.
    virtual void destroyWindow(WindowId window) = 0;

    // --- Sheet frame ---
    // Shows this page (made with role SheetPage in this sheet) and hides the one shown before;
    // the frame's caption becomes the page template's title.
    virtual void showSheetPage(WindowId sheet, WindowId page) = 0;
    virtual void setWizardButtons(WindowId sheet, const WizardButtonsView& view) = 0;

    // --- Modal loops ---
    // Shows the window (a ModalDialog or a sheet frame) and runs events until endModal is called
    // for it; returns the result given there. Other windows of the program take no user input
    // meanwhile. The window is not destroyed here.
    virtual int runModal(WindowId window) = 0;
    // Makes runModal of this window return `result` once the current event has been handled.
    virtual void endModal(WindowId window, int result) = 0;
    // Takes at most one pending message, input event or due timer and dispatches it (for long
    // work on the UI thread that must stay responsive between two steps).
    virtual PumpResult pumpOne() = 0;

    // --- Messages and timers ---
    virtual void post(WindowId window, const PostedMessage& message) = 0;
    // The same from any thread. The window is looked up on the UI thread when the message arrives
    // there; a message for a window destroyed by then is dropped.
    virtual void postFromAnyThread(WindowId window, const PostedMessage& message) = 0;
    virtual void setTimer(WindowId window, int timerId, uint32_t periodMs) = 0;
    virtual void killTimer(WindowId window, int timerId) = 0;

    // --- Any control ---
    virtual void setText(WindowId window, int controlId, const std::string& text) = 0;
    virtual std::string text(WindowId window, int controlId) = 0;  // "" when unknown
    virtual void setEnabled(WindowId window, int controlId, bool enabled) = 0;
    virtual bool isEnabled(WindowId window, int controlId) = 0;  // false when unknown
    virtual void setChecked(WindowId window, int controlId, bool checked) = 0;  // radio buttons
    virtual bool isChecked(WindowId window, int controlId) = 0;  // false when unknown
    virtual void setImage(WindowId window, int controlId, int32_t imageId) = 0;  // Icon, Picture
    // The tool tip shown while the mouse rests on the control; empty removes it. Any kind of
    // control, static texts and icons included; it stays until set again.
    virtual void setToolTip(WindowId window, int controlId, const std::string& text) = 0;
    virtual std::string toolTip(WindowId window, int controlId) = 0;  // "" when none or unknown

    // --- Progress bar ---
    virtual void setProgressRange(WindowId window, int controlId, int low, int high) = 0;
    virtual void setProgressPos(WindowId window, int controlId, int pos) = 0;
    virtual int progressPos(WindowId window, int controlId) = 0;  // 0 when unknown

    // --- List box ---
    virtual void listReset(WindowId window, int controlId) = 0;
    // Adds an item (at its sorted place in a StyleSorted list, else at the end); its index, or
    // -1. Item data starts at 0.
    virtual int listAdd(WindowId window, int controlId, const std::string& text) = 0;
    virtual void listSetData(WindowId window, int controlId, int index, intptr_t data) = 0;
    virtual intptr_t listData(WindowId window, int controlId, int index) = 0;  // -1 when none
    virtual int listCount(WindowId window, int controlId) = 0;                 // -1 when unknown
    virtual std::string listText(WindowId window, int controlId, int index) = 0;
    virtual int listSelection(WindowId window, int controlId) = 0;  // -1 when none selected
    // Selects an item, or removes the selection with -1; no notification.
    virtual void listSelect(WindowId window, int controlId, int index) = 0;

    // --- Edit box ---
    // Most characters the user may type (0: no limit). Text set from code is not cut.
    virtual void setTextLimit(WindowId window, int controlId, int limit) = 0;
    // Lines of a multi-line edit, "\r\n" separating them: an empty box has one line.
    virtual int editLineCount(WindowId window, int controlId) = 0;  // -1 when unknown
    // Character index where the line starts; -1 when the line does not exist.
    virtual int editLineIndex(WindowId window, int controlId, int line) = 0;
    // Length of the line holding this character index, line break excluded; 0 when unknown.
    virtual int editLineLength(WindowId window, int controlId, int charIndex) = 0;
    // Selects characters start..end-1; end -1 means to the end of the text. Indexes are clamped.
    virtual void editSetSelection(WindowId window, int controlId, int start, int end) = 0;
    // Replaces the selection (or inserts at the caret) with the text, "\r\n" kept as it is.
    virtual void editReplaceSelection(WindowId window, int controlId, const std::string& text) = 0;

    // --- The window itself ---
    // The window's big and small icon (WM_SETICON), an image id of resources/icons.h.
    virtual void setWindowIcon(WindowId window, int32_t imageId) = 0;
    // Appends an item to a dialog's system menu (AppendMenu on GetSystemMenu); the command
    // SystemMenuSeparator appends a separator. Choosing an item calls windowSystemCommand. Where
    // the system menu belongs to someone else (a window manager), the backend offers the items
    // in a menu of its own that the user reaches by mouse and by keyboard.
    virtual void appendSystemMenuItem(WindowId window, uint32_t command, const std::string& text) = 0;
    // --- Painting ---
    // UpdateWindow: paints the window's changed controls now, from inside a handler that keeps
    // the UI thread busy, without handling any input, timer or posted message.
    virtual void repaintNow(WindowId window) = 0;

    // --- Message boxes and cursor ---
    // Modal; owned by `owner` (may be NoWindow), with the buttons asked for. Returns the answer:
    // IdOk, IdYes or IdNo (IdCancel when an OK box is closed otherwise).
    virtual int messageBox(WindowId owner, const std::string& text, const std::string& caption,
                           MessageBoxIcon icon, MessageBoxButtons buttons) = 0;
    // The wait cursor, counted: shown while more begins than ends were called.
    virtual void beginWaitCursor() = 0;
    virtual void endWaitCursor() = 0;
};

// --- Choosing the backend ---
// main() calls installWindowBackend, which the backend linked into the program defines (the Qt
// one on Linux; in a build without windows platform/ui/without_windows.cpp, which installs
// nothing). It installs the factory of that backend; the backend is made on first use. Tests
// install a backend directly. False (after saying why on stderr) when no window can be shown.
bool installWindowBackend(int argc, char** argv);

using BackendFactory = std::function<std::unique_ptr<Backend>()>;
void setBackendFactory(BackendFactory factory);
// Replaces the backend in force (nullptr: none; the factory makes one on next use).
void installBackend(std::unique_ptr<Backend> backend);
// True when a backend is installed or a factory can make one.
bool backendAvailable();
// The backend in force; made by the factory when none is installed. Only call when
// backendAvailable().
Backend& backend();
// PostMessage from any thread to a window of the backend in force (see postFromAnyThread). The
// backend must already exist (it does while the window does); without one the message is dropped.
void postMessageFromAnyThread(WindowId window, const PostedMessage& message);

}  // namespace platform::ui
