// What the Win32 backend does beyond the shared contract: the templates it builds in memory (every
// control with its class, style, id and place in dialog units), the property sheet's pages and
// buttons, what counts as the user's doing, timers and modal runs. Under Wine with a display.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/win32/window/win32_backend.h"
#include "support/cross_thread_posts.h"
#include "win32_traits.h"

namespace {

using namespace platform::ui;
using platform::win32ui::Win32Backend;

struct Noting : uitest::ThreadNotingEvents {
    std::vector<std::string> log;
    int timers = 0;
    std::function<void(const PostedMessage&)> onPosted;
    void windowTimer(int) override { ++timers; }
    void windowCommand(int id, Notification code) override
    {
        log.push_back((code == Notification::Clicked ? "clicked " : "selected ") + std::to_string(id));
    }
    void windowPosted(const PostedMessage& m) override
    {
        uitest::ThreadNotingEvents::windowPosted(m);
        if (onPosted) {
            onPosted(m);
        }
    }
    void windowClose() override { log.push_back("close"); }
    void wizardButton(WizardButton b) override { log.push_back("wizard " + std::to_string(static_cast<int>(b))); }
};

class Win32BackendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto made = win32test::Win32Traits::make();
        ui_ = static_cast<Win32Backend*>(made.get());
        installBackend(std::move(made));
    }
    void TearDown() override { installBackend(nullptr); }
    void settle() { win32test::Win32Traits::settle(*ui_); }

    Win32Backend* ui_ = nullptr;
};

std::string className(HWND hwnd)
{
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof(name));
    return name;
}

TEST_F(Win32BackendTest, TemplatesKeepEveryControlsClassStyleIdAndPlace)
{
    struct Row {
        ControlTemplate control;
        const char* cls;
        LONG styleBits;
    };
    const Row rows[] = {
        {{10, ControlKind::Text, StyleRightAlign | StyleSunken, 4, 4, 60, 10, "right"}, "Static", SS_RIGHT | SS_SUNKEN},
        {{11, ControlKind::GroupBox, StyleNone, 4, 16, 80, 40, "group"}, "Button", BS_GROUPBOX},
        {{12, ControlKind::RadioButton, StyleGroup | StyleTabStop, 8, 26, 60, 10, "one"}, "Button",
         BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP},
        {{13, ControlKind::PushButton, StyleDefaultButton, 100, 4, 40, 14, "Go"}, "Button", BS_DEFPUSHBUTTON},
        {{14, ControlKind::ListBox, StyleNotify | StyleVScroll, 100, 20, 60, 40, ""}, "ListBox",
         LBS_NOTIFY},  // (its scroll bar shows only when the items need it)
        {{15, ControlKind::Edit, StyleMultiline | StyleReadOnly | StyleAutoVScroll, 4, 60, 90, 30, ""}, "Edit",
         ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL},
        {{16, ControlKind::Edit, StyleDigitsOnly | StyleDisabled, 100, 64, 30, 12, "12"}, "Edit", ES_NUMBER | WS_DISABLED},
        {{17, ControlKind::ProgressBar, StyleNone, 4, 94, 150, 8, ""}, "msctls_progress32", WS_CHILD},
        {{18, ControlKind::Icon, StyleNone, 170, 4, 20, 20, ""}, "Static", SS_ICON},
    };
    DialogTemplate dialog;
    dialog.title = "kinds";
    for (const Row& r : rows) {
        dialog.controls.push_back(r.control);
    }
    Noting events;
    WindowId w = ui_->createDialog(dialog, NoWindow, WindowRole::ModalDialog, &events);
    HWND hwnd = ui_->windowHandle(w);
    ASSERT_NE(hwnd, nullptr);
    for (const Row& r : rows) {
        HWND c = GetDlgItem(hwnd, r.control.id);
        ASSERT_NE(c, nullptr) << r.control.id;
        EXPECT_STRCASEEQ(className(c).c_str(), r.cls) << r.control.id;
        EXPECT_EQ(GetWindowLongA(c, GWL_STYLE) & r.styleBits, r.styleBits) << r.control.id;
        // The place in dialog units of the template's font.
        RECT want{r.control.x, r.control.y, r.control.x + r.control.cx, r.control.y + r.control.cy};
        MapDialogRect(hwnd, &want);
        RECT got;
        GetWindowRect(c, &got);
        MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&got), 2);
        EXPECT_EQ(got.left, want.left) << r.control.id;
        EXPECT_EQ(got.top, want.top) << r.control.id;
        if (r.control.kind != ControlKind::Icon) {  // an icon control takes its icon's size
            EXPECT_EQ(got.right - got.left, want.right - want.left) << r.control.id;
            EXPECT_EQ(got.bottom - got.top, want.bottom - want.top) << r.control.id;
        }
    }
    EXPECT_EQ(ui_->text(w, 16), "12");
    EXPECT_FALSE(ui_->isEnabled(w, 16));
    EXPECT_FALSE(IsWindowVisible(hwnd));  // shown by runModal only
    ui_->destroyWindow(w);
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(Win32BackendTest, CodeSetsStateSilentlyAndTheUserIsHeard)
{
    DialogTemplate dialog;
    dialog.controls = {
        {20, ControlKind::RadioButton, StyleGroup, 4, 4, 60, 10, "a"},
        {21, ControlKind::RadioButton, StyleNone, 4, 16, 60, 10, "b"},
        {22, ControlKind::ListBox, StyleNotify, 4, 30, 80, 60, ""},
        {23, ControlKind::PushButton, StyleNone, 100, 4, 40, 14, "Push"},
    };
    Noting events;
    WindowId w = ui_->createDialog(dialog, NoWindow, WindowRole::ModalDialog, &events);
    ui_->setChecked(w, 21, true);
    ui_->listAdd(w, 22, "first");
    ui_->listAdd(w, 22, "second");
    ui_->listSelect(w, 22, 1);
    settle();
    EXPECT_TRUE(events.log.empty());
    EXPECT_TRUE(ui_->isChecked(w, 21));
    EXPECT_EQ(ui_->listSelection(w, 22), 1);

    // The user: a click on a button, a click on the list's first row.
    SendMessageA(ui_->controlHandle(w, 20), BM_CLICK, 0, 0);
    SendMessageA(ui_->controlHandle(w, 23), BM_CLICK, 0, 0);
    HWND list = ui_->controlHandle(w, 22);
    RECT row;
    SendMessageA(list, LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
    LPARAM at = MAKELPARAM(row.left + 2, row.top + 2);
    SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(list, WM_LBUTTONUP, 0, at);
    settle();
    EXPECT_EQ(events.log, (std::vector<std::string>{"clicked 20", "clicked 23", "selected 22"}));
    EXPECT_TRUE(ui_->isChecked(w, 20));
    EXPECT_EQ(ui_->listSelection(w, 22), 0);
    ui_->destroyWindow(w);
}

TEST_F(Win32BackendTest, ASheetsPagesExistAtOnceAndItsButtonsOnlyReport)
{
    Noting sheetEvents;
    Noting pageEvents;
    WindowId sheet = ui_->createSheet(&sheetEvents);
    HWND frame = ui_->windowHandle(sheet);
    ASSERT_NE(frame, nullptr);
    DialogTemplate first;
    first.title = "Page one";
    first.controls = {{30, ControlKind::Edit, StyleBorder, 10, 10, 80, 12, "start"}};
    DialogTemplate second = first;
    second.title = "Page two";
    WindowId one = ui_->createDialog(first, sheet, WindowRole::SheetPage, &pageEvents);
    EXPECT_EQ(ui_->text(one, 30), "start");  // before it was ever shown
    ui_->showSheetPage(sheet, one);
    WindowId two = ui_->createDialog(second, sheet, WindowRole::SheetPage, &pageEvents);
    EXPECT_NE(ui_->controlHandle(two, 30), nullptr);
    // Making the second page left the first one shown.
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageA(frame, PSM_GETCURRENTPAGEHWND, 0, 0)), ui_->windowHandle(one));
    ui_->showSheetPage(sheet, two);
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageA(frame, PSM_GETCURRENTPAGEHWND, 0, 0)), ui_->windowHandle(two));
    char caption[64] = {};
    GetWindowTextA(frame, caption, sizeof(caption));
    EXPECT_STREQ(caption, "Page two");

    struct Row {
        WizardButtonsView view;
        bool back, next, finish;  // shown
        const char* finishText;
    };
    WizardButtonsView backAndNext;
    backAndNext.backEnabled = true;
    backAndNext.nextEnabled = true;
    WizardButtonsView finishOnly;
    finishOnly.backVisible = false;
    finishOnly.nextVisible = false;
    finishOnly.finishVisible = true;
    finishOnly.finishEnabled = true;
    finishOnly.finishText = "Restart";
    for (const Row& r : {Row{backAndNext, true, true, false, "Finish"}, Row{finishOnly, false, false, true, "Restart"}}) {
        ui_->setWizardButtons(sheet, r.view);
        constexpr int Back = 0x3023, Next = 0x3024, Finish = 0x3025;
        EXPECT_EQ(IsWindowVisible(GetDlgItem(frame, Back)) != 0 || (GetWindowLongA(GetDlgItem(frame, Back), GWL_STYLE) & WS_VISIBLE) != 0, r.back);
        EXPECT_EQ((GetWindowLongA(GetDlgItem(frame, Next), GWL_STYLE) & WS_VISIBLE) != 0, r.next);
        EXPECT_EQ((GetWindowLongA(GetDlgItem(frame, Finish), GWL_STYLE) & WS_VISIBLE) != 0, r.finish);
        char text[32] = {};
        GetWindowTextA(GetDlgItem(frame, Finish), text, sizeof(text));
        EXPECT_STREQ(text, r.finishText);
    }

    // The sheet's own buttons change nothing themselves: they are reported, once comctl32 is done.
    ui_->setWizardButtons(sheet, backAndNext);
    for (int button : {PSBTN_BACK, PSBTN_NEXT, PSBTN_CANCEL, PSBTN_HELP}) {
        SendMessageA(frame, PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0);
    }
    settle();
    EXPECT_EQ(sheetEvents.log, (std::vector<std::string>{"wizard 0", "wizard 1", "wizard 3", "wizard 4"}));
    EXPECT_TRUE(pageEvents.log.empty());
    EXPECT_TRUE(IsWindow(frame));
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageA(frame, PSM_GETCURRENTPAGEHWND, 0, 0)), ui_->windowHandle(two));
    ui_->destroyWindow(one);
    ui_->destroyWindow(two);
    ui_->destroyWindow(sheet);
    EXPECT_FALSE(IsWindow(frame));
}

TEST_F(Win32BackendTest, TimersRunUntilKilledOrTheWindowGoes)
{
    DialogTemplate dialog;
    Noting events;
    WindowId w = ui_->createDialog(dialog, NoWindow, WindowRole::ModalDialog, &events);
    ui_->setTimer(w, 5, 10);
    DWORD until = GetTickCount() + 300;
    while (events.timers < 3 && GetTickCount() < until) {
        settle();
    }
    EXPECT_GE(events.timers, 3);
    ui_->killTimer(w, 5);
    settle();
    int seen = events.timers;
    Sleep(50);
    settle();
    EXPECT_EQ(events.timers, seen);
    ui_->setTimer(w, 6, 10);
    ui_->destroyWindow(w);
    Sleep(50);
    settle();
    EXPECT_EQ(events.timers, seen);
}

TEST_F(Win32BackendTest, ModalRunEndsWithTheResultAndGivesTheOwnerBack)
{
    DialogTemplate dialog;
    Noting ownerEvents;
    Noting events;
    WindowId owner = ui_->createDialog(dialog, NoWindow, WindowRole::ModalDialog, &ownerEvents);
    WindowId w = ui_->createDialog(dialog, owner, WindowRole::ModalDialog, &events);
    bool ownerDisabled = false;
    events.onPosted = [&](const PostedMessage&) {
        ownerDisabled = !IsWindowEnabled(ui_->windowHandle(owner));
        EXPECT_TRUE(IsWindowVisible(ui_->windowHandle(w)));
        ui_->endModal(w, 7);
    };
    ui_->post(w, PostedMessage{uitest::FirstSenderMessage, 0, 0});
    EXPECT_EQ(ui_->runModal(w), 7);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(IsWindowEnabled(ui_->windowHandle(owner)));
    EXPECT_FALSE(IsWindowVisible(ui_->windowHandle(w)));
    // Ended before it ran: returns at once.
    ui_->endModal(w, 9);
    EXPECT_EQ(ui_->runModal(w), 9);
    ui_->destroyWindow(w);
    ui_->destroyWindow(owner);
}

// The button a message box's answer presses, for the timer that answers it.
int answerButton = IDOK;

BOOL CALLBACK pressAnswer(HWND hwnd, LPARAM)
{
    char cls[16] = {};
    GetClassNameA(hwnd, cls, sizeof(cls));
    if (IsWindowVisible(hwnd) && std::string(cls) == "#32770") {
        PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(answerButton, BN_CLICKED), 0);
    }
    return TRUE;
}

void CALLBACK answerBox(HWND, UINT, UINT_PTR, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), pressAnswer, 0);
}

TEST_F(Win32BackendTest, MessageBoxesAnswerWithTheButtonPressed)
{
    struct Row {
        MessageBoxButtons buttons;
        MessageBoxIcon icon;
        int pressed;
        int answer;
    };
    const Row rows[] = {
        {MessageBoxButtons::Ok, MessageBoxIcon::Information, IDOK, IdOk},
        {MessageBoxButtons::YesNo, MessageBoxIcon::Exclamation, IDNO, IdNo},
        {MessageBoxButtons::YesNo, MessageBoxIcon::Stop, IDYES, IdYes},
    };
    constexpr UINT AnswerAfterMs = 100;
    for (const Row& r : rows) {
        answerButton = r.pressed;
        UINT_PTR timer = SetTimer(nullptr, 0, AnswerAfterMs, answerBox);
        EXPECT_EQ(ui_->messageBox(NoWindow, "text", "caption", r.icon, r.buttons), r.answer) << r.pressed;
        KillTimer(nullptr, timer);
    }
}

TEST_F(Win32BackendTest, SystemMenuItemsReportTheirCommandAndTheWaitCursorCounts)
{
    constexpr uint32_t Shutdown = 1000;
    DialogTemplate dialog;
    struct MenuNoting : Noting {
        std::vector<uint32_t> commands;
        void windowSystemCommand(uint32_t command) override { commands.push_back(command); }
    } events;
    WindowId w = ui_->createDialog(dialog, NoWindow, WindowRole::ModalDialog, &events);
    HWND hwnd = ui_->windowHandle(w);
    const int itemsBefore = GetMenuItemCount(GetSystemMenu(hwnd, FALSE));
    ui_->appendSystemMenuItem(w, SystemMenuSeparator, "");
    ui_->appendSystemMenuItem(w, Shutdown, "Shutdown");
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    ASSERT_EQ(GetMenuItemCount(menu), itemsBefore + 2);
    char text[32] = {};
    GetMenuStringA(menu, Shutdown, text, sizeof(text), MF_BYCOMMAND);
    EXPECT_STREQ(text, "Shutdown");
    SendMessageA(hwnd, WM_SYSCOMMAND, Shutdown, 0);
    EXPECT_EQ(events.commands, std::vector<uint32_t>{Shutdown});

    ui_->beginWaitCursor();
    ui_->beginWaitCursor();
    ui_->endWaitCursor();
    EXPECT_EQ(ui_->waitCursorDepth(), 1);
    ui_->endWaitCursor();
    ui_->endWaitCursor();  // one end too many changes nothing
    EXPECT_EQ(ui_->waitCursorDepth(), 0);
    ui_->destroyWindow(w);
}

}  // namespace
