// The window layer's own rules on the headless backend: posted requests after the handler in
// order, the Finish text, navigation at the ends and from nested handlers, timers by id.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "support/headless_backend.h"
#include "platform/ui/sheet.h"
#include "platform/ui/window.h"

namespace {

using namespace platform::ui;

DialogTemplate pageTemplate(const std::string& title)
{
    DialogTemplate t;
    t.title = title;
    ControlTemplate edit;
    edit.id = 100;
    edit.kind = ControlKind::Edit;
    edit.style = StyleMultiline;
    ControlTemplate list;
    list.id = 101;
    list.kind = ControlKind::ListBox;
    list.style = StyleSorted | StyleNotify;
    t.controls = {edit, list};
    return t;
}

// A page that logs what happens to it and can be told what to do on activation.
class LogPage : public Page {
public:
    LogPage(std::string name, std::vector<std::string>& log) : Page(pageTemplate(name)), name_(name), log_(log) {}
    bool onSetActive() override
    {
        log_.push_back(name_ + " active");
        for (uint32_t f : postOnActivate) {
            postWizardButtons(f);
            // Posted, so nothing has changed yet inside the handler.
            seenInsideHandler.push_back(sheet()->buttons());
        }
        return true;
    }
    bool onKillActive() override
    {
        log_.push_back(name_ + " leave");
        return true;
    }
    std::vector<uint32_t> postOnActivate;
    std::vector<WizardButtonsView> seenInsideHandler;
    std::function<void()> onTimerDo;

protected:
    bool onInitDialog() override
    {
        log_.push_back(name_ + " init");
        return true;
    }
    void onTimer(int id) override
    {
        log_.push_back(name_ + " timer " + std::to_string(id));
        if (onTimerDo) {
            onTimerDo();
        }
    }
    void onDestroy() override { log_.push_back(name_ + " destroy"); }

private:
    std::string name_;
    std::vector<std::string>& log_;
};

class UiSheet : public ::testing::Test {
protected:
    void SetUp() override
    {
        a_ = std::make_unique<LogPage>("a", log_);
        b_ = std::make_unique<LogPage>("b", log_);
        sheet_ = std::make_unique<Sheet>();
        sheet_->addPage(a_.get());
        sheet_->addPage(b_.get());
    }
    void TearDown() override
    {
        sheet_.reset();
    }
    WizardButtonsView view() { return ui_->wizardButtons(sheet_->handle()); }

    platform::ScopedVirtualClock clock_;
    ScopedHeadlessBackend ui_;
    std::vector<std::string> log_;
    std::unique_ptr<LogPage> a_;
    std::unique_ptr<LogPage> b_;
    std::unique_ptr<Sheet> sheet_;
};

TEST_F(UiSheet, PagesAreMadeOnFirstShowAndRequestsApplyAfterTheHandlerInOrder)
{
    a_->postOnActivate = {WizNext, 0, WizBack};
    b_->postOnActivate = {WizBack | WizNext};
    sheet_->open();
    EXPECT_EQ(log_, (std::vector<std::string>{"a init", "a active"}));
    for (const WizardButtonsView& v : a_->seenInsideHandler) {
        EXPECT_FALSE(v.backEnabled || v.nextEnabled);
    }
    ui_->dispatchPosted();
    EXPECT_TRUE(view().backEnabled);
    EXPECT_FALSE(view().nextEnabled);  // the last one posted wins

    struct Case {
        uint32_t flags;
        bool back, nextShown, next, finishShown, finish;
    };
    const Case cases[] = {
        {0, false, true, false, false, false},
        {WizBack | WizNext, true, true, true, false, false},
        {WizBack | WizFinish, true, false, false, true, true},
        {WizDisabledFinish, false, false, false, true, false},
        {WizNext, false, true, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        a_->postWizardButtons(c.flags);
        ui_->dispatchPosted();
        WizardButtonsView v = view();
        EXPECT_EQ(v.backEnabled, c.back);
        EXPECT_EQ(v.nextVisible, c.nextShown);
        EXPECT_EQ(v.nextEnabled, c.next);
        EXPECT_EQ(v.finishVisible, c.finishShown);
        EXPECT_EQ(v.finishEnabled, c.finish);
    }

    a_->postOnActivate = {WizNext};
    ASSERT_TRUE(ui_->pressWizardButton(sheet_->handle(), WizardButton::Next));
    ASSERT_TRUE(ui_->pressWizardButton(sheet_->handle(), WizardButton::Back));
    ASSERT_TRUE(ui_->pressWizardButton(sheet_->handle(), WizardButton::Next));
    EXPECT_EQ(log_, (std::vector<std::string>{"a init", "a active", "a leave", "b init", "b active", "b leave",
                                              "a active", "a leave", "b active"}));
}

TEST_F(UiSheet, FinishTextHidesBackAndNextAndNextOnTheLastPageDoesNothing)
{
    sheet_->open();
    sheet_->pressButton(SheetButton::Next);
    log_.clear();
    sheet_->pressButton(SheetButton::Next);  // no page after the last
    EXPECT_TRUE(log_.empty());
    EXPECT_EQ(sheet_->activeIndex(), 1);

    b_->postWizardButtons(WizBack);
    b_->setFinishText("Finish");
    ui_->dispatchPosted();
    WizardButtonsView v = view();
    EXPECT_FALSE(v.backVisible);
    EXPECT_FALSE(v.nextVisible);
    EXPECT_TRUE(v.finishVisible && v.finishEnabled);
    EXPECT_EQ(v.finishText, "Finish");
    EXPECT_FALSE(ui_->pressWizardButton(sheet_->handle(), WizardButton::Back));
    ASSERT_TRUE(ui_->pressWizardButton(sheet_->handle(), WizardButton::Finish));
    EXPECT_FALSE(sheet_->isOpen());
    EXPECT_EQ(sheet_->result(), SheetFinished);
    EXPECT_EQ(log_, (std::vector<std::string>{"a destroy", "b destroy"}));
    EXPECT_EQ(ui_->windowCount(), 0);
}

TEST_F(UiSheet, TimersFireByIdInDueOrderAndStopWithTheWindow)
{
    sheet_->open();
    a_->setTimer(5, 300);
    a_->setTimer(6, 100);
    ui_->runFor(350);
    EXPECT_EQ(std::vector<std::string>(log_.begin() + 2, log_.end()),
              (std::vector<std::string>{"a timer 6", "a timer 6", "a timer 5", "a timer 6"}));
    // A handler that takes long (here 1 s) does not make up the ticks it missed.
    log_.clear();
    a_->killTimer(5);
    a_->onTimerDo = [] { platform::sleepMs(1000); };
    ui_->runFor(250);
    EXPECT_EQ(log_, (std::vector<std::string>{"a timer 6", "a timer 6"}));
    const WindowId page = a_->handle();
    sheet_->close();
    EXPECT_FALSE(ui_->timerActive(page, 6));
}

TEST_F(UiSheet, NestedPressesAreRefusedCancelEndsAfterTheHandler)
{
    sheet_->open();
    a_->postWizardButtons(WizNext);
    ui_->dispatchPosted();
    std::vector<Page::PumpOutcome> outcomes;
    a_->onTimerDo = [&] {
        ui_->queueInput([&] { ui_->pressWizardButton(sheet_->handle(), WizardButton::Next); });
        ui_->queueInput([&] { ui_->pressWizardButton(sheet_->handle(), WizardButton::Cancel); });
        for (int i = 0; i < 3; ++i) {
            outcomes.push_back(a_->pumpOneMessage());
        }
        // Still here: the windows go only when this handler has returned.
        EXPECT_TRUE(sheet_->isOpen());
        EXPECT_EQ(sheet_->activeIndex(), 0);
    };
    a_->setTimer(1, 10);
    ui_->runFor(10);
    EXPECT_EQ(outcomes, (std::vector<Page::PumpOutcome>{Page::PumpOutcome::Dispatched, Page::PumpOutcome::Closing,
                                                        Page::PumpOutcome::Closing}));
    EXPECT_FALSE(sheet_->isOpen());
    EXPECT_EQ(sheet_->result(), SheetCancelled);
}

TEST_F(UiSheet, MessagesForAGoneWindowAreDroppedAndControlsKeepTheirState)
{
    sheet_->open();
    const WindowId page = a_->handle();
    a_->postMessage(WmUser + 1);
    ListBoxControl list(*a_, 101);
    for (const char* s : {"b item", "C item", "a item"}) {
        int at = list.addString(s);
        list.setItemData(at, s[0]);
    }
    EXPECT_EQ(ui_->listItems(page, 101), (std::vector<std::string>{"a item", "b item", "C item"}));
    EXPECT_EQ(ui_->listDataAll(page, 101), (std::vector<int32_t>{'a', 'b', 'C'}));
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(ListBoxControl(*a_, 999).count(), -1);

    EditControl edit(*a_, 100);
    edit.setText("one\r\ntwo\r\nthree");
    EXPECT_EQ(edit.lineCount(), 3);
    EXPECT_EQ(edit.lineIndex(2), 10);
    EXPECT_EQ(edit.lineIndex(3), -1);
    EXPECT_EQ(edit.lineLength(5), 3);
    edit.setSel(5, 8);
    edit.replaceSel("2");
    EXPECT_EQ(edit.text(), "one\r\n2\r\nthree");

    sheet_->close();
    EXPECT_EQ(ui_->postedPending(), 0);
    a_->postMessage(WmUser + 2);  // no window: ignored
    EXPECT_EQ(ui_->postedPending(), 0);
}

}  // namespace
