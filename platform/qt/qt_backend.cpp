#include "platform/qt/qt_backend.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/qt/dialog_view.h"
#include "platform/qt/qt_pictures.h"
#include "platform/qt/wizard_frame.h"
#include "platform/ui/control_rules.h"

namespace platform::qt {

using platform::ui::Key;
using platform::ui::MessageBoxIcon;
using platform::ui::NoWindow;
using platform::ui::PostedMessage;
using platform::ui::PumpResult;
using platform::ui::WindowEvents;
using platform::ui::WindowId;
using platform::ui::WindowRole;
using platform::ui::WizardButton;

namespace {

// The Qt property that ties a widget to its window id.
constexpr const char* WindowIdProperty = "tarvoWindowId";
// The stand-in system menu's button: the size of a title bar's icon, in the top-left corner.
constexpr int MenuButtonIconPx = 16;
constexpr int MenuButtonSidePx = 18;
constexpr int MenuButtonMarginPx = 1;
constexpr const char* MenuButtonTip = "Window menu (Alt+Space)";
constexpr const char* MenuButtonName = "Window menu";
const QKeySequence MenuKeys[] = {QKeySequence(Qt::ALT | Qt::Key_Space), QKeySequence(Qt::SHIFT | Qt::Key_F10)};
constexpr const char* NoDisplayText =
    "Tarvo32: no display to show the wizard on. Set DISPLAY (X11) or WAYLAND_DISPLAY, or run\n"
    "it with QT_QPA_PLATFORM=offscreen for a run without a screen.\n";

// The first control of a page that the keyboard can reach, in tab order; null when none.
QWidget* firstTabStop(QWidget* page)
{
    for (QWidget* w = page->nextInFocusChain(); w != nullptr && w != page; w = w->nextInFocusChain()) {
        if (page->isAncestorOf(w) && w->isVisibleTo(page) && w->isEnabled() &&
            (w->focusPolicy() & Qt::TabFocus) != 0) {
            return w;
        }
    }
    return nullptr;
}

// Without a window manager nothing gives the keyboard back to a window once the window above
// it goes away, and nothing keeps a new window above an older one.
void bringToFront(QWidget* window)
{
    if (window != nullptr && window->isVisible()) {
        // The offscreen platform has no stacking and says so on every call.
        if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
            window->raise();
        }
        window->activateWindow();
    }
}

// A modal dialog's window: its close box (and Qt's own Escape) only ask the window layer.
class DialogWindow : public QDialog {
public:
    DialogWindow(QWidget* parent, std::function<void()> close) : QDialog(parent), close_(std::move(close))
    {
        setWindowFlags(FixedWindowFlags);
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        event->ignore();
        close_();
    }
    void reject() override { close_(); }

private:
    std::function<void()> close_;
};

QMessageBox::Icon qtIcon(MessageBoxIcon icon)
{
    switch (icon) {
    case MessageBoxIcon::Stop: return QMessageBox::Critical;
    case MessageBoxIcon::Information: return QMessageBox::Information;
    case MessageBoxIcon::Exclamation: return QMessageBox::Warning;
    case MessageBoxIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QIcon iconOf(int32_t imageId)
{
    QPixmap pixmap = picturePixmap(imageId);
    return pixmap.isNull() ? applicationIcon() : QIcon(pixmap);
}

bool hasDisplay()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

}  // namespace

bool installBackend(int argc, char** argv)
{
    if (!hasDisplay()) {
        std::fputs(NoDisplayText, stderr);
        return false;
    }
    // QApplication keeps a reference to argc and the argv array for its whole life.
    static int storedArgc = argc;
    static std::vector<char*> storedArgv(argv, argv + argc);
    if (storedArgv.empty() || storedArgv.back() != nullptr) {
        storedArgv.push_back(nullptr);
    }
    if (QApplication::instance() == nullptr) {
        // Never destroyed: the window layer's backend, a static of its own, deletes its widgets
        // at exit and needs the application alive then.
        new QApplication(storedArgc, storedArgv.data());
    }
    QApplication::setWindowIcon(applicationIcon());
    platform::ui::setBackendFactory([] { return std::make_unique<QtBackend>(); });
    return true;
}

}  // namespace platform::qt

namespace platform::ui {

// The neutral entry point main() calls: in a build with Qt, the Qt backend is the window backend.
bool installWindowBackend(int argc, char** argv)
{
    return platform::qt::installBackend(argc, argv);
}

}  // namespace platform::ui

namespace platform::qt {

QtBackend::QtBackend()
{
    qApp->installEventFilter(this);
}

QtBackend::~QtBackend()
{
    qApp->removeEventFilter(this);
    // Forget the windows first: a widget being deleted may still emit a signal, which must
    // find no window to report to.
    std::map<WindowId, Record> gone;
    gone.swap(windows_);
    posted_.clear();
    for (auto& [id, record] : gone) {
        for (auto& [timerId, timer] : record.timers) {
            delete timer;
        }
        if (record.loop != nullptr) {
            record.loop->exit(0);
        }
    }
    for (auto& [id, record] : gone) {
        if (record.kind != Kind::Page && record.top) {
            delete record.top.data();
        }
    }
}

QtBackend::Record* QtBackend::find(WindowId window)
{
    auto found = windows_.find(window);
    return found == windows_.end() ? nullptr : &found->second;
}

const QtBackend::Record* QtBackend::find(WindowId window) const
{
    auto found = windows_.find(window);
    return found == windows_.end() ? nullptr : &found->second;
}

DialogView* QtBackend::viewOf(WindowId window) const
{
    const Record* r = find(window);
    return r != nullptr ? r->view.data() : nullptr;
}

QWidget* QtBackend::topLevel(WindowId window) const
{
    const Record* r = find(window);
    return r != nullptr ? r->top.data() : nullptr;
}

DialogView* QtBackend::view(WindowId window) const
{
    return viewOf(window);
}

WizardFrame* QtBackend::frame(WindowId sheet) const
{
    const Record* r = find(sheet);
    return r != nullptr ? r->frame.data() : nullptr;
}

WindowId QtBackend::activePage(WindowId sheet) const
{
    const Record* r = find(sheet);
    return r != nullptr ? r->activePage : NoWindow;
}

std::vector<WindowId> QtBackend::windows() const
{
    std::vector<WindowId> ids;
    for (const auto& [id, record] : windows_) {
        ids.push_back(id);
    }
    return ids;
}

std::string QtBackend::title(WindowId window) const
{
    const Record* r = find(window);
    return r != nullptr ? r->title : std::string();
}

WindowId QtBackend::createDialog(const platform::ui::DialogTemplate& dialog, WindowId parent,
                                 WindowRole role, WindowEvents* events)
{
    Record* owner = find(parent);
    if (role == WindowRole::SheetPage && (owner == nullptr || owner->kind != Kind::Sheet)) {
        return NoWindow;
    }
    WindowId id = nextId_++;
    QPointer<QtBackend> self(this);
    auto notify = [self, id](int controlId, platform::ui::Notification code) {
        if (self == nullptr) {
            return;
        }
        if (Record* r = self->find(id)) {
            r->events->windowCommand(controlId, code);
        }
    };
    Record record;
    record.events = events;
    record.parent = parent;
    record.title = dialog.title;
    if (role == WindowRole::SheetPage) {
        record.kind = Kind::Page;
        record.top = owner->frame.data();
        auto* view = new DialogView(dialog, notify, owner->frame->pageArea());
        view->hide();
        record.view = view;
    } else {
        record.kind = Kind::Dialog;
        QWidget* parentWidget = owner != nullptr && owner->top ? owner->top.data() : nullptr;
        auto* window = new DialogWindow(parentWidget, [self, id] {
            if (self == nullptr) {
                return;
            }
            if (Record* r = self->find(id)) {
                r->events->windowClose();
            }
        });
        window->setWindowTitle(toQt(dialog.title));
        auto* view = new DialogView(dialog, notify, window);
        window->setFixedSize(view->clientSize());
        record.top = window;
        record.view = view;
    }
    record.view->setProperty(WindowIdProperty, id);
    windows_.emplace(id, std::move(record));
    return id;
}

WindowId QtBackend::createSheet(WindowEvents* events)
{
    WindowId id = nextId_++;
    QPointer<QtBackend> self(this);
    auto* frame = new WizardFrame(
        [self, id](WizardButton button) {
            if (self == nullptr) {
                return;
            }
            if (Record* r = self->find(id)) {
                r->events->wizardButton(button);
            }
        },
        [self, id] {
            if (self == nullptr) {
                return;
            }
            if (Record* r = self->find(id)) {
                r->events->windowClose();
            }
        });
    frame->setWindowIcon(applicationIcon());
    frame->setProperty(WindowIdProperty, id);
    Record record;
    record.kind = Kind::Sheet;
    record.events = events;
    record.top = frame;
    record.frame = frame;
    windows_.emplace(id, std::move(record));
    return id;
}

void QtBackend::destroyWindow(WindowId window)
{
    auto found = windows_.find(window);
    if (found == windows_.end()) {
        return;
    }
    Record record = std::move(found->second);
    windows_.erase(found);
    for (auto& [timerId, timer] : record.timers) {
        delete timer;
    }
    posted_.erase(std::remove_if(posted_.begin(), posted_.end(),
                                 [window](const Pending& p) { return p.window == window; }),
                  posted_.end());
    if (record.loop != nullptr) {
        record.loop->exit(0);
    }
    // Later, not now: the call may come from inside one of the window's own signals.
    QWidget* widget = record.kind == Kind::Page ? static_cast<QWidget*>(record.view.data())
                                                : record.top.data();
    if (widget != nullptr) {
        widget->hide();
        widget->deleteLater();
    }
    for (auto& [id, other] : windows_) {
        if (other.activePage == window) {
            other.activePage = NoWindow;
        }
    }
}

void QtBackend::showSheetPage(WindowId sheet, WindowId page)
{
    Record* s = find(sheet);
    Record* p = find(page);
    if (s == nullptr || p == nullptr || s->kind != Kind::Sheet || p->parent != sheet) {
        return;
    }
    // Taken before the old page hides: Qt would pass the focus on to whatever comes next in
    // its chain (Back, say), where Enter would no longer press the default button.
    QWidget* focus = QApplication::focusWidget();
    bool focusWasOnAPage = focus == nullptr || !s->frame->isButton(focus) || s->activePage == NoWindow;
    if (Record* previous = find(s->activePage); previous != nullptr && previous != p) {
        if (previous->view) {
            previous->view->hide();
        }
    }
    s->activePage = page;
    p->view->show();
    if (focusWasOnAPage) {
        focusPage(*s);
    }
    s->frame->setWindowTitle(toQt(p->title));
}

void QtBackend::setWizardButtons(WindowId sheet, const platform::ui::WizardButtonsView& view)
{
    Record* s = find(sheet);
    if (s == nullptr || !s->frame) {
        return;
    }
    WizardFrame* f = s->frame.data();
    QWidget* focus = QApplication::focusWidget();
    bool focusOnAButton = focus != nullptr && f->isButton(focus);
    f->setButtons(view);
    // A button that goes grey or away under the focus (Next while the search runs, Back and
    // Next on the last page) hands it to the page, not to the next button in line.
    if (focusOnAButton && (!focus->isVisible() || !focus->isEnabled())) {
        focusPage(*s);
    }
}

void QtBackend::focusPage(Record& sheet)
{
    Record* p = find(sheet.activePage);
    QWidget* target = p != nullptr && p->view ? firstTabStop(p->view.data()) : nullptr;
    if (target == nullptr && sheet.frame) {
        // With nothing to type into and no default button the frame itself holds the focus:
        // Enter then presses nothing (least of all Cancel under an upload) and Escape cancels.
        target = sheet.frame->defaultButton();
        if (target == nullptr) {
            target = sheet.frame.data();
        }
    }
    if (target != nullptr) {
        target->setFocus(Qt::TabFocusReason);
    }
}

int QtBackend::runModal(WindowId window)
{
    Record* r = find(window);
    if (r == nullptr || r->kind == Kind::Page || !r->top) {
        return 0;
    }
    if (r->endPending) {
        r->endPending = false;
        return r->endResult;
    }
    QWidget* top = r->top.data();
    top->setWindowModality(Qt::ApplicationModal);
    // Making a window modal recomputes its flags and drops CustomizeWindowHint: set them again.
    top->setWindowFlags(FixedWindowFlags);
    top->show();
    top->raise();
    top->activateWindow();
    QEventLoop loop;
    r->loop = &loop;
    int result = loop.exec();
    if (Record* again = find(window)) {
        again->loop = nullptr;
        if (again->top) {
            again->top->hide();
        }
        bringToFront(topLevel(again->parent));
    }
    return result;
}

void QtBackend::endModal(WindowId window, int result)
{
    Record* r = find(window);
    if (r == nullptr) {
        return;
    }
    if (r->loop != nullptr) {
        // The loop returns once the event being handled now has returned to it.
        r->loop->exit(result);
    } else {
        r->endPending = true;
        r->endResult = result;
    }
}

PumpResult QtBackend::pumpOne()
{
    bool dispatched = false;
    if (!posted_.empty()) {
        deliverOnePosted();
        dispatched = true;
    }
    // Qt's pending input and paint events go in the same step, with our posted messages held
    // back: a handler that posts one message per step would otherwise keep the queue full and
    // the window would never see the user's clicks.
    inPump_ = true;
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        dispatched = dispatcher->processEvents(QEventLoop::AllEvents) || dispatched;
    }
    inPump_ = false;
    return dispatched ? PumpResult::Dispatched : PumpResult::Nothing;
}

void QtBackend::post(WindowId window, const PostedMessage& message)
{
    if (find(window) == nullptr) {
        return;
    }
    posted_.push_back(Pending{window, message});
    scheduleDelivery();
}

void QtBackend::postFromAnyThread(WindowId window, const PostedMessage& message)
{
    // A queued call is posted to this object's thread with QCoreApplication::postEvent, which
    // Qt allows from any thread; on the UI thread it becomes an ordinary post, so the order, the
    // one-per-step delivery and the dropping for a window gone meanwhile stay post()'s.
    QMetaObject::invokeMethod(
        this, [this, window, message] { post(window, message); }, Qt::QueuedConnection);
}

void QtBackend::scheduleDelivery()
{
    // One single-shot timer per message: Qt never fires a timer again while its handler is still
    // running, and a posted message's handler may open a message box, in whose loop the next
    // messages must still arrive. Each turn delivers the oldest message, so the order holds.
    QTimer::singleShot(0, this, [this] {
        if (inPump_) {
            scheduleDelivery();  // pumpOne hands over only one of ours per step
        } else {
            deliverOnePosted();
        }
    });
}

void QtBackend::deliverOnePosted()
{
    if (posted_.empty()) {
        return;
    }
    Pending next = posted_.front();
    posted_.pop_front();
    if (Record* r = find(next.window)) {
        r->events->windowPosted(next.message);
    }
}

void QtBackend::setTimer(WindowId window, int timerId, uint32_t periodMs)
{
    Record* r = find(window);
    if (r == nullptr) {
        return;
    }
    QTimer*& timer = r->timers[timerId];
    if (timer == nullptr) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, window, timerId] { timerFired(window, timerId); });
    }
    timer->start(static_cast<int>(platform::ui::timerPeriod(periodMs)));
}

void QtBackend::killTimer(WindowId window, int timerId)
{
    Record* r = find(window);
    if (r == nullptr) {
        return;
    }
    auto found = r->timers.find(timerId);
    if (found != r->timers.end()) {
        // Only stopped: the handler that kills its own timer is running inside its signal.
        found->second->stop();
    }
}

void QtBackend::timerFired(WindowId window, int timerId)
{
    if (Record* r = find(window)) {
        r->events->windowTimer(timerId);
    }
}

void QtBackend::setText(WindowId window, int controlId, const std::string& text)
{
    if (Record* r = find(window); r != nullptr && r->view) {
        r->view->setControlText(controlId, text);
    }
}

std::string QtBackend::text(WindowId window, int controlId)
{
    DialogView* v = viewOf(window);
    return v != nullptr ? v->controlText(controlId) : std::string();
}

void QtBackend::setEnabled(WindowId window, int controlId, bool enabled)
{
    if (DialogView* v = viewOf(window)) {
        v->setControlEnabled(controlId, enabled);
    }
}

bool QtBackend::isEnabled(WindowId window, int controlId)
{
    DialogView* v = viewOf(window);
    return v != nullptr && v->controlEnabled(controlId);
}

void QtBackend::setToolTip(WindowId window, int controlId, const std::string& text)
{
    DialogView* v = viewOf(window);
    if (QWidget* w = v != nullptr ? v->control(controlId) : nullptr) {
        w->setToolTip(toQt(text));
    }
}

std::string QtBackend::toolTip(WindowId window, int controlId)
{
    DialogView* v = viewOf(window);
    QWidget* w = v != nullptr ? v->control(controlId) : nullptr;
    return w != nullptr ? fromQt(w->toolTip()) : std::string();
}

void QtBackend::setChecked(WindowId window, int controlId, bool checked)
{
    if (DialogView* v = viewOf(window)) {
        v->setChecked(controlId, checked);
    }
}

bool QtBackend::isChecked(WindowId window, int controlId)
{
    DialogView* v = viewOf(window);
    return v != nullptr && v->checked(controlId);
}

void QtBackend::setImage(WindowId window, int controlId, int32_t imageId)
{
    if (DialogView* v = viewOf(window)) {
        v->setImage(controlId, imageId);
    }
}

void QtBackend::setProgressRange(WindowId window, int controlId, int low, int high)
{
    if (DialogView* v = viewOf(window)) {
        v->setProgressRange(controlId, low, high);
    }
}

void QtBackend::setProgressPos(WindowId window, int controlId, int pos)
{
    if (DialogView* v = viewOf(window)) {
        v->setProgressPos(controlId, pos);
    }
}

int QtBackend::progressPos(WindowId window, int controlId)
{
    DialogView* v = viewOf(window);
    return v != nullptr ? v->progressPos(controlId) : 0;
}

void QtBackend::listReset(WindowId window, int controlId)
{
    if (DialogView* v = viewOf(window)) {
        v->listReset(controlId);
    }
}

int QtBackend::listAdd(WindowId window, int controlId, const std::string& text)
{
    DialogView* v = viewOf(window);
    if (v == nullptr) {
        return -1;
    }
    return v->listAdd(controlId, text);
}

void QtBackend::listSetData(WindowId window, int controlId, int index, intptr_t data)
{
    if (DialogView* v = viewOf(window)) {
        v->listSetData(controlId, index, data);
    }
}

intptr_t QtBackend::listData(WindowId window, int controlId, int index)
{
    DialogView* v = viewOf(window);
    return v != nullptr ? v->listData(controlId, index) : -1;
}

int QtBackend::listCount(WindowId window, int controlId)
{
    DialogView* v = viewOf(window);
    return v != nullptr ? v->listCount(controlId) : -1;
}

std::string QtBackend::listText(WindowId window, int controlId, int index)
{
    DialogView* v = viewOf(window);
    return v != nullptr ? v->listText(controlId, index) : std::string();
}

int QtBackend::listSelection(WindowId window, int controlId)
{
    DialogView* v = viewOf(window);
    return v != nullptr ? v->listSelection(controlId) : -1;
}

void QtBackend::listSelect(WindowId window, int controlId, int index)
{
    if (DialogView* v = viewOf(window)) {
        v->listSelect(controlId, index);
    }
}

void QtBackend::setTextLimit(WindowId window, int controlId, int limit)
{
    if (DialogView* v = viewOf(window)) {
        v->setTextLimit(controlId, limit);
    }
}

int QtBackend::editLineCount(WindowId window, int controlId)
{
    DialogView* v = viewOf(window);
    return v != nullptr ? v->editLineCount(controlId) : -1;
}

int QtBackend::editLineIndex(WindowId window, int controlId, int line)
{
    DialogView* v = viewOf(window);
    return v != nullptr ? v->editLineIndex(controlId, line) : -1;
}

int QtBackend::editLineLength(WindowId window, int controlId, int charIndex)
{
    DialogView* v = viewOf(window);
    return v != nullptr ? v->editLineLength(controlId, charIndex) : 0;
}

void QtBackend::editSetSelection(WindowId window, int controlId, int start, int end)
{
    if (DialogView* v = viewOf(window)) {
        v->editSetSelection(controlId, start, end);
    }
}

void QtBackend::editReplaceSelection(WindowId window, int controlId, const std::string& text)
{
    if (DialogView* v = viewOf(window)) {
        v->editReplaceSelection(controlId, text);
    }
}

QMenu* QtBackend::systemMenu(WindowId window) const
{
    const Record* r = find(window);
    return r != nullptr ? r->systemMenu.data() : nullptr;
}

QToolButton* QtBackend::systemMenuButton(WindowId window) const
{
    const Record* r = find(window);
    return r != nullptr ? r->menuButton.data() : nullptr;
}

void QtBackend::setWindowIcon(WindowId window, int32_t imageId)
{
    Record* r = find(window);
    if (r == nullptr || r->kind != Kind::Dialog || !r->top) {
        return;
    }
    r->top->setWindowIcon(iconOf(imageId));
    if (r->menuButton) {
        r->menuButton->setIcon(r->top->windowIcon());
    }
}

void QtBackend::appendSystemMenuItem(WindowId window, uint32_t command, const std::string& text)
{
    Record* r = find(window);
    if (r == nullptr || r->kind != Kind::Dialog || !r->top || !r->view) {
        return;
    }
    QWidget* top = r->top.data();
    if (!r->systemMenu) {
        auto* menu = new QMenu(top);
        auto* button = new QToolButton(top);
        button->setIcon(top->windowIcon());
        button->setIconSize(QSize(MenuButtonIconPx, MenuButtonIconPx));
        button->setGeometry(MenuButtonMarginPx, MenuButtonMarginPx, MenuButtonSidePx, MenuButtonSidePx);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);  // as the system menu: a key of its own, no tab stop
        button->setToolTip(QString::fromLatin1(MenuButtonTip));
        button->setAccessibleName(QString::fromLatin1(MenuButtonName));
        button->raise();
        QPointer<QtBackend> self(this);
        connect(button, &QToolButton::clicked, this, [self, window] {
            if (self != nullptr) {
                self->openSystemMenu(window);
            }
        });
        for (const QKeySequence& keys : MenuKeys) {
            auto* shortcut = new QShortcut(keys, top);
            connect(shortcut, &QShortcut::activated, this, [self, window] {
                if (self != nullptr) {
                    self->openSystemMenu(window);
                }
            });
        }
        DialogView* view = r->view.data();
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this, [view, menu](const QPoint& at) {
            menu->popup(view->mapToGlobal(at));
        });
        r->systemMenu = menu;
        r->menuButton = button;
    }
    if (command == platform::ui::SystemMenuSeparator) {
        // A separator at the top of a menu of our own would stand above nothing.
        if (!r->systemMenu->isEmpty()) {
            r->systemMenu->addSeparator();
        }
        return;
    }
    QAction* item = r->systemMenu->addAction(toQt(text));
    QPointer<QtBackend> self(this);
    connect(item, &QAction::triggered, this, [self, window, command] {
        if (self == nullptr) {
            return;
        }
        if (Record* owner = self->find(window)) {
            owner->events->windowSystemCommand(command);
        }
    });
}

void QtBackend::openSystemMenu(WindowId window)
{
    Record* r = find(window);
    if (r == nullptr || !r->systemMenu || !r->menuButton || r->systemMenu->isVisible()) {
        return;
    }
    QMenu* menu = r->systemMenu.data();
    QToolButton* button = r->menuButton.data();
    menu->popup(button->mapToGlobal(QPoint(0, button->height())));
    // Opened from the keyboard, the first item is ready for Enter (as the system menu's is).
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator() && action->isEnabled()) {
            menu->setActiveAction(action);
            break;
        }
    }
}

int QtBackend::messageBox(WindowId owner, const std::string& text, const std::string& caption,
                          MessageBoxIcon icon, platform::ui::MessageBoxButtons buttons)
{
    QWidget* parent = topLevel(owner);
    const bool yesNo = buttons == platform::ui::MessageBoxButtons::YesNo;
    QMessageBox box(qtIcon(icon), toQt(caption), toQt(text),
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    // After the modality, which recomputes the flags and would drop CustomizeWindowHint.
    box.setWindowFlags(FixedWindowFlags);
    // The wait cursor is for work in progress, not for a question to the user.
    bool waiting = waitCursor_ > 0;
    if (waiting) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    // Plain buttons, as the system's message boxes have them; the first is the default.
    for (QAbstractButton* button : box.buttons()) {
        button->setIcon(QIcon());
    }
    box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
    QTimer::singleShot(0, &box, [&box] { bringToFront(&box); });
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    bringToFront(parent);
    if (waiting) {
        QApplication::restoreOverrideCursor();
    }
    if (!yesNo) {
        // OK is the only button; the close box and Escape answer it too, as on the system.
        return platform::ui::IdOk;
    }
    // Escape answers No (the system's Yes/No box has no way out but the two buttons).
    return clicked != nullptr && clicked == box.button(QMessageBox::Yes) ? platform::ui::IdYes
                                                                         : platform::ui::IdNo;
}

void QtBackend::repaintNow(WindowId window)
{
    // QWidget::repaint paints at once and hands the result to the window system, without
    // running the event loop: no input, timer or posted message is taken meanwhile.
    if (DialogView* v = viewOf(window)) {
        v->repaint();
    }
}

void QtBackend::beginWaitCursor()
{
    ++waitCursor_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtBackend::endWaitCursor()
{
    if (waitCursor_ == 0) {
        return;
    }
    --waitCursor_;
    QApplication::restoreOverrideCursor();
}

WindowId QtBackend::ownerOf(QWidget* widget, int& controlId) const
{
    controlId = platform::ui::StaticControlId;
    bool haveControl = false;
    for (QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
        QVariant control = w->property(DialogView::ControlIdProperty);
        if (!haveControl && control.isValid()) {
            controlId = control.toInt();
            haveControl = true;
        }
        QVariant window = w->property(WindowIdProperty);
        if (window.isValid()) {
            WindowId id = window.toUInt();
            return find(id) != nullptr ? id : NoWindow;
        }
        if (w->isWindow()) {
            break;
        }
    }
    return NoWindow;
}

bool QtBackend::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    Key key;
    if (keyEvent->key() == Qt::Key_Return || keyEvent->key() == Qt::Key_Enter) {
        key = Key::Enter;
    } else if (keyEvent->key() == Qt::Key_Escape) {
        key = Key::Escape;
    } else {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    return widget != nullptr && routeKey(widget, key);
}

bool QtBackend::routeKey(QWidget* target, Key key)
{
    int controlId = platform::ui::StaticControlId;
    WindowId window = ownerOf(target, controlId);
    Record* r = find(window);
    if (r == nullptr) {
        return false;  // a message box or another window that is not ours
    }
    QPointer<QWidget> guard(target);
    if (r->kind != Kind::Sheet) {
        // The owning window sees the key first (its pre-translate hook) and may keep it.
        if (r->events->windowKey(controlId, key)) {
            return true;
        }
        r = find(window);
        if (r == nullptr || guard == nullptr) {
            return true;
        }
    }
    if (key == Key::Enter) {
        // A focused push button is pressed by Enter; otherwise the window's default button.
        if (auto* button = qobject_cast<QPushButton*>(target); button != nullptr && button->isEnabled()) {
            button->click();
            return true;
        }
    }
    WindowId sheet = r->kind == Kind::Page ? r->parent : (r->kind == Kind::Sheet ? window : NoWindow);
    if (Record* s = find(sheet)) {
        if (key == Key::Enter) {
            if (QPushButton* button = s->frame ? s->frame->defaultButton() : nullptr) {
                button->click();
            }
        } else {
            s->events->wizardButton(WizardButton::Cancel);
        }
        return true;
    }
    if (key == Key::Enter) {
        // The default button, or IDOK without one; a disabled default button takes no Enter.
        int id = r->view ? r->view->enterCommand() : platform::ui::IdOk;
        if (r->view && r->view->control(id) != nullptr && !r->view->controlEnabled(id)) {
            return true;
        }
        r->events->windowCommand(id, platform::ui::Notification::Clicked);
    } else {
        r->events->windowClose();
    }
    return true;
}

}  // namespace platform::qt

// Read by LeakSanitizer in sanitizer builds (unused otherwise): fontconfig keeps a few caches
// for the life of the process that Qt has no way to free, which would fail every run that
// draws text.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
