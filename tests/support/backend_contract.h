// One contract for every window backend: the rules both backends share (platform/ui/
// control_rules.h) and the cross-thread post, checked through the Backend interface only, so the
// backends cannot drift apart again. Each test binary instantiates it for the backend it has:
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(BackendContractHeadless, BackendContract, HeadlessTraits);
//
// (the prefix names the tests for ctest, which sees them as BackendContractHeadless.NAME<...>)
//
// A traits type gives `static std::unique_ptr<Backend> make()`, `static void settle(Backend&)`
// (lets posted messages and due events run) and `static void pressKey(Backend&, WindowId, int
// controlId, Key)` (the user presses a key in a control).
// Thread rule: the test's (UI) thread; the senders of the cross-thread case post from their own.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/threads.h"
#include "platform/ui/dialog_template.h"
#include "support/cross_thread_posts.h"

namespace contract {

using namespace platform::ui;

constexpr int EditId = 100;
constexpr int ListId = 101;
constexpr int DefaultId = 102;
constexpr int OtherButtonId = 103;
constexpr int LabelId = 104;
constexpr int LampId = 105;

// Notes what the backend reports, one line per event.
struct NotingEvents : uitest::ThreadNotingEvents {
    std::vector<std::string> log;
    void windowCommand(int id, Notification) override { log.push_back("command " + std::to_string(id)); }
    void windowClose() override { log.push_back("close"); }
    void wizardButton(WizardButton b) override { log.push_back("wizard " + std::to_string(static_cast<int>(b))); }
};

inline DialogTemplate contractTemplate(bool withDefault)
{
    DialogTemplate t;
    t.title = "contract";
    t.cx = 200;
    t.cy = 100;
    t.controls = {
        {EditId, ControlKind::Edit, StyleMultiline | StyleBorder, 5, 5, 100, 40, ""},
        {ListId, ControlKind::ListBox, StyleSorted | StyleBorder, 5, 50, 100, 40, ""},
        {DefaultId, ControlKind::PushButton, withDefault ? StyleDefaultButton : StyleNone, 110, 5, 40, 14, "Go"},
        {OtherButtonId, ControlKind::PushButton, StyleNone, 110, 25, 40, 14, "Other"},
        {LabelId, ControlKind::Text, StyleNone, 110, 45, 40, 8, "label"},
        {LampId, ControlKind::Icon, StyleNone, 155, 45, 20, 20, ""},
    };
    return t;
}

template <typename Traits>
class BackendContract : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::unique_ptr<Backend> made = Traits::make();
        backend_ = made.get();
        installBackend(std::move(made));
    }
    void TearDown() override { installBackend(nullptr); }

    Backend& ui() { return *backend_; }
    WindowId dialog(NotingEvents& events, bool withDefault = true)
    {
        return ui().createDialog(contractTemplate(withDefault), NoWindow, WindowRole::ModalDialog, &events);
    }

    Backend* backend_ = nullptr;
};

TYPED_TEST_SUITE_P(BackendContract);

TYPED_TEST_P(BackendContract, EditLinesCountFromTheCaret)
{
    NotingEvents events;
    WindowId w = this->dialog(events);
    Backend& ui = this->ui();
    ui.setText(w, EditId, "ab\r\ncde\r\n");
    EXPECT_EQ(ui.editLineCount(w, EditId), 3);
    struct Row {
        int line, index;
    };
    for (Row r : {Row{0, 0}, Row{1, 4}, Row{2, 9}, Row{3, -1}}) {
        EXPECT_EQ(ui.editLineIndex(w, EditId, r.line), r.index) << r.line;
    }
    struct LengthRow {
        int charIndex, length;
    };
    for (LengthRow r : {LengthRow{0, 2}, LengthRow{2, 2}, LengthRow{4, 3}, LengthRow{9, 0}, LengthRow{500, 0}}) {
        EXPECT_EQ(ui.editLineLength(w, EditId, r.charIndex), r.length) << r.charIndex;
    }
    // -1: the line that holds the caret, here the second.
    ui.editSetSelection(w, EditId, 5, 5);
    EXPECT_EQ(ui.editLineIndex(w, EditId, -1), 4);
    EXPECT_EQ(ui.editLineLength(w, EditId, -1), 3);
    ui.setText(w, EditId, "");
    EXPECT_EQ(ui.editLineCount(w, EditId), 1);
    ui.destroyWindow(w);
}

TYPED_TEST_P(BackendContract, SortedListPutsAnItemAfterItsEquals)
{
    NotingEvents events;
    WindowId w = this->dialog(events);
    Backend& ui = this->ui();
    struct Row {
        const char* text;
        int index;
    };
    for (Row r : {Row{"b", 0}, Row{"A", 0}, Row{"a", 1}, Row{"C", 3}, Row{"B", 3}, Row{"", 0}}) {
        EXPECT_EQ(ui.listAdd(w, ListId, r.text), r.index) << r.text;
    }
    std::vector<std::string> order;
    for (int i = 0; i < ui.listCount(w, ListId); ++i) {
        order.push_back(ui.listText(w, ListId, i));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"", "A", "a", "b", "B", "C"}));
    ui.destroyWindow(w);
}

TYPED_TEST_P(BackendContract, EnterAndEscapeInADialog)
{
    struct Case {
        bool withDefault;
        bool defaultEnabled;
        std::vector<std::string> enter;
    };
    const Case cases[] = {
        {true, true, {"command 102"}},
        {false, true, {"command 1"}},  // no default button: IDOK
        {true, false, {}},             // a disabled default button takes no Enter
    };
    for (const Case& c : cases) {
        NotingEvents events;
        WindowId w = this->dialog(events, c.withDefault);
        this->ui().setEnabled(w, DefaultId, c.defaultEnabled);
        TypeParam::pressKey(this->ui(), w, EditId, Key::Enter);
        EXPECT_EQ(events.log, c.enter) << c.withDefault << c.defaultEnabled;
        events.log.clear();
        TypeParam::pressKey(this->ui(), w, EditId, Key::Escape);
        EXPECT_EQ(events.log, std::vector<std::string>{"close"});
        this->ui().destroyWindow(w);
    }
}

TYPED_TEST_P(BackendContract, EnterAndEscapeInAWizardPage)
{
    struct Case {
        bool nextEnabled;
        bool finishVisible;
        bool finishEnabled;
        std::vector<std::string> enter;
    };
    const Case cases[] = {
        {true, false, false, {"wizard 1"}},   // Next
        {false, false, false, {}},            // nothing to press
        {true, true, true, {"wizard 2"}},     // Finish in Next's place
        {true, true, false, {}},              // a disabled Finish, though Next is enabled behind it
    };
    for (const Case& c : cases) {
        NotingEvents sheetEvents;
        NotingEvents pageEvents;
        Backend& ui = this->ui();
        WindowId sheet = ui.createSheet(&sheetEvents);
        WindowId page = ui.createDialog(contractTemplate(false), sheet, WindowRole::SheetPage, &pageEvents);
        WizardButtonsView view;
        view.nextEnabled = c.nextEnabled;
        view.finishVisible = c.finishVisible;
        view.finishEnabled = c.finishEnabled;
        ui.setWizardButtons(sheet, view);
        ui.showSheetPage(sheet, page);
        TypeParam::pressKey(ui, page, EditId, Key::Enter);
        EXPECT_EQ(sheetEvents.log, c.enter) << c.nextEnabled << c.finishVisible << c.finishEnabled;
        sheetEvents.log.clear();
        // Escape in a wizard is its Cancel button.
        TypeParam::pressKey(ui, page, EditId, Key::Escape);
        EXPECT_EQ(sheetEvents.log, std::vector<std::string>{"wizard 3"});
        EXPECT_TRUE(pageEvents.log.empty());
        ui.destroyWindow(page);
        ui.destroyWindow(sheet);
    }
}

TYPED_TEST_P(BackendContract, PostsFromOtherThreadsArriveInOrderOnTheUiThread)
{
    constexpr int Senders = 2;
    constexpr int PerSender = 100;
    NotingEvents events;
    WindowId w = this->dialog(events);
    NotingEvents goneEvents;
    WindowId gone = this->dialog(goneEvents);
    {
        // Posted before the window goes, delivered after: dropped.
        uitest::CrossThreadSenders(this->ui(), gone, 1, 5).join();
        this->ui().destroyWindow(gone);
        uitest::CrossThreadSenders senders(this->ui(), w, Senders, PerSender);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (events.fromSenders() < Senders * PerSender && std::chrono::steady_clock::now() < deadline) {
            TypeParam::settle(this->ui());
        }
    }
    EXPECT_TRUE(events.deliveredInOrderOn(platform::currentThreadId(), Senders, PerSender));
    EXPECT_TRUE(goneEvents.posted.empty());
    this->ui().destroyWindow(w);
}

// UpdateWindow from a handler that keeps the UI thread busy (the driver-change page's pauses):
// it paints, and takes nothing else in: no posted message, no due timer.
TYPED_TEST_P(BackendContract, RepaintNowTakesNoMessageOrTimer)
{
    struct TimerNotingEvents : NotingEvents {
        int timers = 0;
        void windowTimer(int) override { ++timers; }
    } events;
    WindowId w = this->dialog(events);
    this->ui().post(w, PostedMessage{uitest::FirstSenderMessage, 0, 0});
    this->ui().setTimer(w, 1, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    this->ui().repaintNow(w);
    this->ui().repaintNow(w + 1000);  // no such window: ignored
    EXPECT_TRUE(events.posted.empty());
    EXPECT_EQ(events.timers, 0);
    this->ui().killTimer(w, 1);
    TypeParam::settle(this->ui());
    EXPECT_EQ(events.posted.size(), 1u);
    this->ui().destroyWindow(w);
}

// Tool tips on any kind of control (a static text and an icon too), replaced and removed; an
// unknown control keeps none; setting them notifies nobody.
TYPED_TEST_P(BackendContract, ToolTipsOnAnyControlUntilRemoved)
{
    NotingEvents events;
    WindowId w = this->dialog(events);
    Backend& ui = this->ui();
    for (int id : {EditId, ListId, DefaultId, LabelId, LampId}) {
        EXPECT_EQ(ui.toolTip(w, id), "") << id;
        ui.setToolTip(w, id, "why " + std::to_string(id));
        EXPECT_EQ(ui.toolTip(w, id), "why " + std::to_string(id)) << id;
    }
    ui.setToolTip(w, LampId, "block 17 refused four times (NAK)");
    EXPECT_EQ(ui.toolTip(w, LampId), "block 17 refused four times (NAK)");
    ui.setToolTip(w, LampId, "");
    EXPECT_EQ(ui.toolTip(w, LampId), "");
    EXPECT_EQ(ui.toolTip(w, LabelId), "why 104");
    ui.setToolTip(w, 999, "nobody");
    EXPECT_EQ(ui.toolTip(w, 999), "");
    EXPECT_EQ(ui.text(w, LabelId), "label");
    TypeParam::settle(ui);
    EXPECT_TRUE(events.log.empty());
    ui.destroyWindow(w);
}

REGISTER_TYPED_TEST_SUITE_P(BackendContract, EditLinesCountFromTheCaret, SortedListPutsAnItemAfterItsEquals,
                            EnterAndEscapeInADialog, EnterAndEscapeInAWizardPage,
                            PostsFromOtherThreadsArriveInOrderOnTheUiThread, RepaintNowTakesNoMessageOrTimer,
                            ToolTipsOnAnyControlUntilRemoved);

}  // namespace contract
