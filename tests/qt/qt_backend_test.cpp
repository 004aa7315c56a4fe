// The Qt backend on the offscreen platform: dialog units, templates turned into widgets, posted
// and sent requests, timers by id, message boxes, and the keys a page sees first.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "platform/qt/dialog_units.h"
#include "platform/qt/dialog_view.h"
#include "platform/qt/qt_backend.h"
#include "platform/qt/wizard_frame.h"
#include "resources/dialogs.h"
#include "resources/icons.h"
#include "resources/icons/pictures.h"
#include "qt_application.h"

namespace qttest {

// The tests' QApplication: offscreen, with a private 0700 runtime folder (Qt warns without).
QApplication& app()
{
    static QApplication* instance = [] {
        static char runtime[] = "/tmp/tarvo-qt-runtime-XXXXXX";
        if (mkdtemp(runtime) != nullptr) {
            chmod(runtime, 0700);
            setenv("XDG_RUNTIME_DIR", runtime, 1);
            // Every test runs in a process of its own: without this each left a folder behind.
            std::atexit([] {
                std::error_code ignored;
                std::filesystem::remove_all(runtime, ignored);
            });
        }
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "tarvo_qt_tests";
        static char* argv[] = {name, nullptr};
        resources::installPictures();
        return new QApplication(argc, argv);
    }();
    return *instance;
}

}  // namespace qttest

namespace {

using namespace platform::ui;
using platform::qt::DialogView;
using platform::qt::QtBackend;

constexpr int WaitLimitMs = 3000;

// Records what the backend reports, in order; a hook may act inside an event.
struct Recorder : WindowEvents {
    std::vector<std::string> log;
    std::function<void(const std::string&)> hook;
    bool consumeKeys = false;

    void note(const std::string& what)
    {
        log.push_back(what);
        if (hook) {
            hook(what);
        }
    }
    void windowTimer(int id) override { note("timer " + std::to_string(id)); }
    void windowCommand(int id, Notification code) override
    {
        note((code == Notification::Clicked ? "click " : "select ") + std::to_string(id));
    }
    void windowPosted(const PostedMessage& m) override { note("posted " + std::to_string(m.message)); }
    bool windowKey(int id, Key key) override
    {
        note((key == Key::Enter ? "enter " : "escape ") + std::to_string(id));
        return consumeKeys;
    }
    void windowClose() override { note("close"); }
    void wizardButton(WizardButton b) override { note("wizard " + std::to_string(static_cast<int>(b))); }
    void windowSystemCommand(uint32_t command) override { note("syscommand " + std::to_string(command)); }
};

bool waitUntil(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < WaitLimitMs) {
        QTest::qWait(5);
    }
    return done();
}

// The application must exist before the backend member is made.
struct ApplicationFirst {
    ApplicationFirst() { qttest::app(); }
};

class QtBackendTest : public ::testing::Test, private ApplicationFirst {
protected:
    QtBackend backend;
};

DialogTemplate searchLikeTemplate()
{
    DialogTemplate t;
    t.title = "Firmware upload wizard (page 2 of 5)";
    t.controls = {
        {1038, ControlKind::Picture, StyleNone, 13, 7, 46, 100, "", BitmapWizardPicture},
        {1040, ControlKind::ListBox, StyleBorder | StyleSorted | StyleNotify | StyleVScroll, 81, 36, 177, 41, ""},
        {1006, ControlKind::RadioButton, StyleNone, 86, 82, 39, 10, "Others"},
        {1008, ControlKind::Edit, StyleBorder | StyleDigitsOnly | StyleDisabled, 163, 81, 37, 12, "", 0, 3},
        {1009, ControlKind::Text, StyleSunken, 80, 104, 178, 11, "status"},
        {1094, ControlKind::Icon, StyleNone, 13, 76, 21, 20, "", IconLampIdle},
        {1099, ControlKind::Text, StyleSunken | StyleRightAlign, 229, 81, 22, 9, "0%"},
        {1018, ControlKind::Edit, StyleMultiline | StyleReadOnly | StyleAutoHScroll, 25, 7, 215, 40, ""},
    };
    return t;
}

// A fixed-size window offers no maximise (or minimise) button: the frame's buttons are the ones
// asked for, not the window manager's defaults.
void expectFixedFrame(Qt::WindowFlags flags)
{
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
}

TEST(DialogUnits, ConvertLikeTheSystem)
{
    qttest::app();
    using platform::qt::mulDiv;
    struct Row { int a, b, c, expected; };
    for (Row r : {Row{265, 6, 4, 398}, Row{13, 6, 4, 20}, Row{9, 12, 8, 14}, Row{7, 12, 8, 11},
                  Row{-13, 6, 4, -20}, Row{1, 1, 0, -1}, Row{100, 12, 8, 150}}) {
        EXPECT_EQ(mulDiv(r.a, r.b, r.c), r.expected) << r.a << "*" << r.b << "/" << r.c;
    }
    // Arial 8 pt comes out as Liberation Sans at 11 px: bases 6 x 12, 1.5 px per unit.
    QFont font = platform::qt::dialogFont("Arial", 8);
    EXPECT_EQ(font.pixelSize(), 11);
    platform::qt::DialogBaseUnits base = platform::qt::baseUnitsOf(font);
    EXPECT_EQ(base.x, 6);
    EXPECT_EQ(base.y, 12);
    EXPECT_EQ(platform::qt::dialogRectToPixels(80, 104, 178, 11, base), QRect(120, 156, 267, 17));
}

TEST_F(QtBackendTest, TemplateBecomesWidgetsAtTheirPlaces)
{
    Recorder events;
    WindowId w = backend.createDialog(searchLikeTemplate(), NoWindow, WindowRole::ModalDialog, &events);
    DialogView* view = backend.view(w);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->clientSize(), QSize(398, 180));
    EXPECT_EQ(backend.topLevel(w)->size(), QSize(398, 180));
    expectFixedFrame(backend.topLevel(w)->windowFlags());
    EXPECT_EQ(backend.topLevel(w)->minimumSize(), backend.topLevel(w)->maximumSize());
    EXPECT_EQ(view->control(1040)->geometry(), QRect(122, 54, 266, 62));
    EXPECT_EQ(view->control(1009)->geometry(), QRect(120, 156, 267, 17));
    // Pictures and icons take their image's size, as the system's static pictures do.
    EXPECT_EQ(view->control(1038)->geometry(), QRect(20, 11, 69, 150));
    EXPECT_EQ(view->control(1094)->geometry(), QRect(20, 114, 32, 32));
    EXPECT_FALSE(view->control(1008)->isEnabled());
    auto* percent = qobject_cast<QLabel*>(view->control(1099));
    ASSERT_NE(percent, nullptr);
    EXPECT_TRUE(percent->alignment() & Qt::AlignRight);
    // Static texts are never read as markup.
    backend.setText(w, 1009, "<b>Nelta</b> & Co");
    EXPECT_EQ(backend.text(w, 1009), "<b>Nelta</b> & Co");
    EXPECT_EQ(percent->textFormat(), Qt::PlainText);
    backend.destroyWindow(w);
}

TEST_F(QtBackendTest, ControlsKeepTheirStateById)
{
    Recorder events;
    WindowId w = backend.createDialog(searchLikeTemplate(), NoWindow, WindowRole::ModalDialog, &events);

    // A sorted list: case-insensitive order, item data follows its item, code changes are silent.
    EXPECT_EQ(backend.listAdd(w, 1040, "Nelta on COM5"), 0);
    backend.listSetData(w, 1040, 0, 5);
    EXPECT_EQ(backend.listAdd(w, 1040, "nelta on COM2"), 0);
    backend.listSetData(w, 1040, 0, 2);
    EXPECT_EQ(backend.listAdd(w, 1040, "Nelta on COM8"), 2);
    EXPECT_EQ(backend.listData(w, 1040, 1), 5);
    EXPECT_EQ(backend.listData(w, 1040, 7), -1);
    backend.listSelect(w, 1040, 1);
    EXPECT_EQ(backend.listSelection(w, 1040), 1);
    backend.listSelect(w, 1040, -1);
    EXPECT_EQ(backend.listSelection(w, 1040), -1);
    EXPECT_TRUE(events.log.empty());
    // The user's click is reported.
    static_cast<QListWidget*>(backend.view(w)->control(1040))->setCurrentRow(2);
    EXPECT_EQ(events.log, std::vector<std::string>{"select 1040"});

    // A radio button can be unchecked from code even though Qt's exclusive buttons refuse it.
    backend.setChecked(w, 1006, true);
    backend.setChecked(w, 1006, false);
    EXPECT_FALSE(backend.isChecked(w, 1006));

    // The port box takes digits only, at most three, from the user; code's text is not cut.
    backend.setEnabled(w, 1008, true);
    auto* port = static_cast<QLineEdit*>(backend.view(w)->control(1008));
    QTest::keyClicks(port, "1a2345");
    EXPECT_EQ(backend.text(w, 1008), "123");
    backend.setText(w, 1008, "12345");
    EXPECT_EQ(backend.text(w, 1008), "12345");

    // The multi-line box works in "\r\n" lines, as the summary's log box expects.
    backend.setText(w, 1018, "");
    EXPECT_EQ(backend.editLineCount(w, 1018), 1);
    backend.editReplaceSelection(w, 1018, "one\r\ntwo\r\n");
    EXPECT_EQ(backend.editLineCount(w, 1018), 3);
    EXPECT_EQ(backend.editLineIndex(w, 1018, 1), 5);
    EXPECT_EQ(backend.editLineIndex(w, 1018, 3), -1);
    EXPECT_EQ(backend.editLineLength(w, 1018, 5), 3);
    backend.editSetSelection(w, 1018, 0, 5);
    backend.editReplaceSelection(w, 1018, "");
    int last = backend.editLineIndex(w, 1018, backend.editLineCount(w, 1018) - 1);
    backend.editSetSelection(w, 1018, last, last);
    backend.editReplaceSelection(w, 1018, "three");
    EXPECT_EQ(backend.text(w, 1018), "two\r\nthree");

    // Unknown ids give the "unknown" answers.
    EXPECT_EQ(backend.listCount(w, 4242), -1);
    EXPECT_EQ(backend.text(w, 4242), "");
    EXPECT_EQ(backend.listCount(999, 1040), -1);
    backend.destroyWindow(w);
}

TEST_F(QtBackendTest, PostedMessagesWaitForTheHandlerAndKeepTheirOrder)
{
    Recorder events;
    WindowId w = backend.createDialog(searchLikeTemplate(), NoWindow, WindowRole::ModalDialog, &events);
    Recorder other;
    WindowId gone = backend.createDialog(searchLikeTemplate(), NoWindow, WindowRole::ModalDialog, &other);
    events.hook = [&](const std::string& what) {
        if (what == "timer 7") {
            backend.killTimer(w, 7);
            backend.post(w, PostedMessage{1});
            backend.post(gone, PostedMessage{9});
            backend.post(w, PostedMessage{2});
            backend.destroyWindow(gone);
            // A sent request acts at once, inside the handler.
            events.note("sent");
        }
    };
    backend.setTimer(w, 7, 10);
    ASSERT_TRUE(waitUntil([&] { return events.log.size() >= 4; }));
    EXPECT_EQ(events.log, (std::vector<std::string>{"timer 7", "sent", "posted 1", "posted 2"}));
    EXPECT_TRUE(other.log.empty());

    // pumpOne hands over one posted message at a time.
    events.log.clear();
    events.hook = nullptr;
    backend.post(w, PostedMessage{3});
    backend.post(w, PostedMessage{4});
    EXPECT_EQ(backend.pumpOne(), PumpResult::Dispatched);
    EXPECT_EQ(events.log, std::vector<std::string>{"posted 3"});
    EXPECT_EQ(backend.pumpOne(), PumpResult::Dispatched);
    EXPECT_EQ(events.log, (std::vector<std::string>{"posted 3", "posted 4"}));
    backend.destroyWindow(w);
}

TEST_F(QtBackendTest, PostedMessagesArriveWhileAPostedHandlerShowsAMessageBox)
{
    Recorder events;
    WindowId w = backend.createDialog(searchLikeTemplate(), NoWindow, WindowRole::ModalDialog, &events);
    std::vector<std::string> seenDuringBox;
    events.hook = [&](const std::string& what) {
        if (what == "posted 1") {
            backend.post(w, PostedMessage{2});
            QTimer::singleShot(100, [&] {
                seenDuringBox = events.log;
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    box->button(QMessageBox::Ok)->click();
                }
            });
            backend.messageBox(w, "Upload successfully", "Tarvo32", MessageBoxIcon::Information, MessageBoxButtons::Ok);
        }
    };
    backend.post(w, PostedMessage{1});
    ASSERT_TRUE(waitUntil([&] { return !seenDuringBox.empty(); }));
    EXPECT_EQ(seenDuringBox, (std::vector<std::string>{"posted 1", "posted 2"}));
    backend.destroyWindow(w);
}

TEST_F(QtBackendTest, TimersRunByIdUntilKilledOrDestroyed)
{
    Recorder events;
    WindowId w = backend.createDialog(searchLikeTemplate(), NoWindow, WindowRole::ModalDialog, &events);
    int fast = 0, slow = 0;
    events.hook = [&](const std::string& what) {
        if (what == "timer 26") {
            ++fast;
        } else if (what == "timer 28") {
            ++slow;
        }
    };
    backend.setTimer(w, 26, 10);
    backend.setTimer(w, 28, 10);
    ASSERT_TRUE(waitUntil([&] { return fast >= 2 && slow >= 2; }));
    backend.killTimer(w, 26);
    int fastAtKill = fast;
    ASSERT_TRUE(waitUntil([&] { return slow >= 5; }));
    EXPECT_EQ(fast, fastAtKill);
    backend.destroyWindow(w);
    int slowAtDestroy = slow;
    QTest::qWait(60);
    EXPECT_EQ(slow, slowAtDestroy);
}

// Counts the paint events of one widget.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        paints += e->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

TEST_F(QtBackendTest, RepaintNowPaintsFromInsideABusyHandler)
{
    Recorder events;
    WindowId w = backend.createDialog(searchLikeTemplate(), NoWindow, WindowRole::ModalDialog, &events);
    QWidget* top = backend.topLevel(w);
    top->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(top));
    PaintCounter counter;
    backend.view(w)->control(1009)->installEventFilter(&counter);
    int paintsWithout = -1;
    int paintsWith = -1;
    events.hook = [&](const std::string& what) {
        if (what != "timer 30") {
            return;
        }
        // As a handler that sleeps between two steps: the loop never runs in between.
        backend.killTimer(w, 30);
        int before = counter.paints;
        backend.setEnabled(w, 1009, false);
        paintsWithout = counter.paints - before;
        backend.repaintNow(w);
        paintsWith = counter.paints - before;
    };
    backend.setTimer(w, 30, 10);
    ASSERT_TRUE(waitUntil([&] { return paintsWith >= 0; }));
    EXPECT_EQ(paintsWithout, 0);
    EXPECT_GE(paintsWith, 1);
    backend.destroyWindow(w);
}

TEST_F(QtBackendTest, MessageBoxIsCaptionedAndAnswered)
{
    struct Row { MessageBoxIcon icon; QMessageBox::Icon shown; };
    for (Row row : {Row{MessageBoxIcon::Stop, QMessageBox::Critical},
                    Row{MessageBoxIcon::Information, QMessageBox::Information},
                    Row{MessageBoxIcon::Exclamation, QMessageBox::Warning}}) {
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        Qt::WindowFlags flags;
        QTimer::singleShot(50, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            flags = box->windowFlags();
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        int answer = backend.messageBox(NoWindow, "Please remove your modem from the USB port,\nand then press 'OK' to continue.",
                                        "Tarvo32", row.icon, MessageBoxButtons::Ok);
        EXPECT_EQ(answer, IdOk);
        EXPECT_EQ(caption, "Tarvo32");
        EXPECT_EQ(text, "Please remove your modem from the USB port,\nand then press 'OK' to continue.");
        EXPECT_EQ(icon, row.shown);
        expectFixedFrame(flags);
    }
}

TEST_F(QtBackendTest, SheetPageSeesEnterFirstAndTheFrameReportsItsButtons)
{
    Recorder sheetEvents, pageEvents;
    WindowId sheet = backend.createSheet(&sheetEvents);
    WindowId page = backend.createDialog(searchLikeTemplate(), sheet, WindowRole::SheetPage, &pageEvents);
    WizardButtonsView buttons;
    buttons.backEnabled = true;
    buttons.nextEnabled = true;
    backend.setWizardButtons(sheet, buttons);
    backend.showSheetPage(sheet, page);
    expectFixedFrame(backend.topLevel(sheet)->windowFlags());
    platform::qt::WizardFrame* frame = backend.frame(sheet);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->windowTitle(), "Firmware upload wizard (page 2 of 5)");
    // The page at the frame's margin, the frame just large enough for page and buttons.
    EXPECT_EQ(backend.view(page)->geometry().size(), QSize(398, 180));

    bool ended = false;
    int result = 0;
    QTimer::singleShot(0, [&] {
        backend.setEnabled(page, 1008, true);
        QLineEdit* port = static_cast<QLineEdit*>(backend.view(page)->control(1008));
        port->setFocus();
        // Consumed by the page: Next is not pressed.
        pageEvents.consumeKeys = true;
        QTest::keyClick(port, Qt::Key_Return);
        EXPECT_EQ(pageEvents.log, std::vector<std::string>{"enter 1008"});
        EXPECT_TRUE(sheetEvents.log.empty());
        // Not consumed: the enabled default button, Next, is pressed.
        pageEvents.consumeKeys = false;
        QTest::keyClick(port, Qt::Key_Return);
        QTest::keyClick(port, Qt::Key_Escape);
        frame->button(WizardButton::Help)->click();
        frame->close();  // the close box
        backend.endModal(sheet, 12325);
        ended = true;
    });
    result = backend.runModal(sheet);
    EXPECT_TRUE(ended);
    EXPECT_EQ(result, 12325);
    EXPECT_EQ(sheetEvents.log, (std::vector<std::string>{"wizard 1", "wizard 3", "wizard 4", "close"}));
    EXPECT_TRUE(frame->isVisible() == false);

    // Finish takes Next's place and carries the text it is given.
    buttons.finishVisible = true;
    buttons.finishEnabled = true;
    buttons.backVisible = false;
    buttons.finishText = "Finish";
    backend.setWizardButtons(sheet, buttons);
    EXPECT_TRUE(frame->button(WizardButton::Next)->isHidden());
    EXPECT_FALSE(frame->button(WizardButton::Finish)->isHidden());
    EXPECT_EQ(frame->button(WizardButton::Finish)->text(), "Finish");
    EXPECT_EQ(frame->defaultButton(), frame->button(WizardButton::Finish));
    backend.destroyWindow(page);
    backend.destroyWindow(sheet);
}

// What a keyboard user meets: Enter must press Next, never a button the focus fell onto.
TEST_F(QtBackendTest, KeyboardFocusFollowsThePageAndTheListSelectsByArrowKey)
{
    Recorder sheetEvents, listEvents, plainEvents;
    WindowId sheet = backend.createSheet(&sheetEvents);
    WindowId listPage = backend.createDialog(searchLikeTemplate(), sheet, WindowRole::SheetPage, &listEvents);
    DialogTemplate plain;
    plain.controls = {{-1, ControlKind::Text, StyleNone, 30, 27, 72, 8, "Product name            :"}};
    WindowId plainPage = backend.createDialog(plain, sheet, WindowRole::SheetPage, &plainEvents);
    platform::qt::WizardFrame* frame = backend.frame(sheet);
    ASSERT_NE(frame, nullptr);
    WizardButtonsView buttons;
    buttons.backEnabled = true;
    buttons.nextEnabled = true;
    backend.setWizardButtons(sheet, buttons);
    QPushButton* next = frame->button(WizardButton::Next);
    EXPECT_TRUE(next->isDefault());

    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
        // Focus on a page control when the page changes: the new page's first tab stop.
        backend.showSheetPage(sheet, listPage);
        auto* list = static_cast<QListWidget*>(backend.view(listPage)->control(1040));
        EXPECT_EQ(QApplication::focusWidget(), list);
        backend.listAdd(listPage, 1040, "Nelta 56K USB Modem on COM3");
        QTest::keyClick(list, Qt::Key_Down);
        EXPECT_EQ(backend.listSelection(listPage, 1040), 0);
        EXPECT_EQ(listEvents.log, std::vector<std::string>{"select 1040"});

        // A focused button that goes grey hands the focus to the page, not to Cancel.
        next->setFocus();
        buttons.nextEnabled = false;
        backend.setWizardButtons(sheet, buttons);
        EXPECT_FALSE(next->isDefault());
        EXPECT_EQ(QApplication::focusWidget(), list);

        // A page with nothing to type into: the default button, or with none the frame, where
        // Enter presses nothing.
        backend.showSheetPage(sheet, plainPage);
        EXPECT_EQ(QApplication::focusWidget(), frame);
        sheetEvents.log.clear();
        QTest::keyClick(frame, Qt::Key_Return);
        EXPECT_TRUE(sheetEvents.log.empty());
        backend.showSheetPage(sheet, listPage);
        buttons.nextEnabled = true;
        backend.setWizardButtons(sheet, buttons);
        backend.showSheetPage(sheet, plainPage);
        EXPECT_EQ(QApplication::focusWidget(), next);
        // Focus left on a wizard button by the user stays there across a page change.
        backend.showSheetPage(sheet, listPage);
        EXPECT_EQ(QApplication::focusWidget(), next);
        backend.endModal(sheet, IdCancel);
    });
    backend.runModal(sheet);
    backend.destroyWindow(plainPage);
    backend.destroyWindow(listPage);
    backend.destroyWindow(sheet);
}

TEST_F(QtBackendTest, MessageBoxComesToTheFrontAndGivesTheKeyboardBack)
{
    Recorder events;
    WindowId dialog = backend.createDialog(searchLikeTemplate(), NoWindow, WindowRole::ModalDialog, &events);
    QWidget* owner = backend.topLevel(dialog);
    QString okText;
    bool okHasIcon = true;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(QTest::qWaitForWindowActive(owner));
        QTimer::singleShot(50, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            // Activation is asynchronous; on a loaded machine it may come after this timer.
            EXPECT_TRUE(waitUntil([&] { return QApplication::activeWindow() == box; }));
            okText = box->button(QMessageBox::Ok)->text();
            okHasIcon = !box->button(QMessageBox::Ok)->icon().isNull();
            box->button(QMessageBox::Ok)->click();
        });
        expectFixedFrame(owner->windowFlags());  // also while it runs modal
        backend.messageBox(dialog, "Upload successfully", "Tarvo32", MessageBoxIcon::Information, MessageBoxButtons::Ok);
        EXPECT_TRUE(waitUntil([&] { return QApplication::activeWindow() == owner; }));
        backend.endModal(dialog, IdOk);
    });
    backend.runModal(dialog);
    EXPECT_EQ(okText.remove(QLatin1Char('&')), "OK");
    EXPECT_FALSE(okHasIcon);
    backend.destroyWindow(dialog);
}

TEST_F(QtBackendTest, ModalRunsNestAndEndInOrder)
{
    Recorder outerEvents, innerEvents;
    WindowId outer = backend.createDialog(searchLikeTemplate(), NoWindow, WindowRole::ModalDialog, &outerEvents);
    WindowId inner = backend.createDialog(searchLikeTemplate(), outer, WindowRole::ModalDialog, &innerEvents);
    int innerResult = -1;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] { backend.endModal(inner, IdOk); });
        innerResult = backend.runModal(inner);
        backend.endModal(outer, IdCancel);
    });
    EXPECT_EQ(backend.runModal(outer), IdCancel);
    EXPECT_EQ(innerResult, IdOk);
    // endModal before the run: the run returns at once.
    backend.endModal(inner, 5);
    EXPECT_EQ(backend.runModal(inner), 5);
    backend.destroyWindow(inner);
    backend.destroyWindow(outer);
}

// The window manager owns the real system menu, so a dialog's own items come in a menu of ours:
// opened by Alt+Space with its first item ready (arrow keys and Enter choose), by the button in
// the top-left corner, and by the context menu. A Yes/No box answers Yes or No, Escape meaning No.
TEST_F(QtBackendTest, SystemMenuItemsAreReachedByKeyboardAndMouse)
{
    Recorder events;
    WindowId w = backend.createDialog(productionDialogTemplate(), NoWindow, WindowRole::ModalDialog, &events);
    EXPECT_EQ(backend.systemMenu(w), nullptr);
    backend.appendSystemMenuItem(w, SystemMenuSeparator, "");
    backend.appendSystemMenuItem(w, 1000, "Shutdown");
    backend.appendSystemMenuItem(w, 16, "&About Tarvo...");
    backend.setWindowIcon(w, IconApplication);
    QWidget* top = backend.topLevel(w);
    QMenu* menu = backend.systemMenu(w);
    QToolButton* button = backend.systemMenuButton(w);
    ASSERT_NE(menu, nullptr);
    ASSERT_NE(button, nullptr);
    // No separator above the first item; the button carries the window's icon, clear of the
    // "Info" frame that starts 13 units (19 px) in.
    QStringList texts;
    for (QAction* action : menu->actions()) {
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    EXPECT_EQ(texts, (QStringList{"Shutdown", "&About Tarvo..."}));
    EXPECT_FALSE(top->windowIcon().isNull());
    EXPECT_LE(button->geometry().right(), 19);
    EXPECT_EQ(backend.view(w)->clientSize(), QSize(497, 372));

    std::vector<int> answers;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(QTest::qWaitForWindowActive(top));
        // Keyboard: Alt+Space, Down to the About item, Enter.
        QTest::keyClick(top, Qt::Key_Space, Qt::AltModifier);
        ASSERT_TRUE(waitUntil([&] { return QApplication::activePopupWidget() == menu; }));
        EXPECT_EQ(menu->activeAction(), menu->actions().front());
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
        ASSERT_TRUE(waitUntil([&] { return !events.log.empty(); }));
        EXPECT_EQ(events.log.back(), "syscommand 16");
        EXPECT_FALSE(menu->isVisible());
        // Escape closes the menu, not the dialog.
        QTest::keyClick(top, Qt::Key_Space, Qt::AltModifier);
        ASSERT_TRUE(waitUntil([&] { return QApplication::activePopupWidget() == menu; }));
        QTest::keyClick(menu, Qt::Key_Escape);
        EXPECT_TRUE(waitUntil([&] { return !menu->isVisible(); }));
        // Mouse: the button, then the Shutdown item.
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return QApplication::activePopupWidget() == menu; }));
        QAction* shutdown = menu->actions().front();
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(shutdown).center());
        ASSERT_TRUE(waitUntil([&] { return events.log.back() == "syscommand 1000"; }));
        EXPECT_EQ(events.log.size(), 2u);

        // The Shutdown question: Yes, then Escape (No).
        for (bool yes : {true, false}) {
            QTimer::singleShot(50, [&, yes] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                ASSERT_NE(box, nullptr);
                EXPECT_EQ(box->windowTitle(), "Tarvo32");
                EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Yes));
                if (yes) {
                    box->button(QMessageBox::Yes)->click();
                } else {
                    QTest::keyClick(box, Qt::Key_Escape);
                }
            });
            answers.push_back(backend.messageBox(w, "Really want to shutdown?", "Tarvo32",
                                                 MessageBoxIcon::Exclamation, MessageBoxButtons::YesNo));
        }
        backend.endModal(w, IdOk);
    });
    backend.runModal(w);
    EXPECT_EQ(answers, (std::vector<int>{IdYes, IdNo}));
    backend.destroyWindow(w);
}

}  // namespace
