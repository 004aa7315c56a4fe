#include "platform/ui/sheet.h"

#include "platform/ui/dispatch.h"

namespace platform::ui {

// --- Sheet ---

Sheet::Sheet() = default;

Sheet::~Sheet()
{
    forgetSheet(this);
    close();
}

void Sheet::addPage(Page* page)
{
    if (page == nullptr || frame_ != NoWindow) {
        return;
    }
    page->sheet_ = this;
    pages_.push_back(page);
}

void Sheet::clearPages()
{
    close();
    for (Page* p : pages_) {
        p->sheet_ = nullptr;
    }
    pages_.clear();
}

Page* Sheet::page(int index) const
{
    if (index < 0 || index >= pageCount()) {
        return nullptr;
    }
    return pages_[static_cast<size_t>(index)];
}

void Sheet::open()
{
    if (frame_ != NoWindow || pages_.empty()) {
        return;
    }
    ending_ = false;
    result_ = SheetCancelled;
    buttons_ = WizardButtonsView{};
    hasFinishText_ = false;
    active_ = -1;
    frame_ = backend().createSheet(this);
    backend().setWizardButtons(frame_, buttons_);
    setActive(0);
}

int Sheet::runModal()
{
    open();
    if (frame_ == NoWindow) {
        return SheetCancelled;
    }
    modal_ = true;
    if (!ending_) {
        backend().runModal(frame_);
    }
    modal_ = false;
    close();
    return result_;
}

void Sheet::close()
{
    if (frame_ == NoWindow) {
        return;
    }
    forgetSheet(this);
    // Pages first, in order, while the frame still exists: a page's onDestroy may still talk
    // to its controls (and stop its workers).
    for (Page* p : pages_) {
        p->destroyWindow();
    }
    backend().destroyWindow(frame_);
    frame_ = NoWindow;
    active_ = -1;
}

void Sheet::post(const PostedMessage& message)
{
    if (frame_ != NoWindow) {
        backend().post(frame_, message);
    }
}

void Sheet::windowPosted(const PostedMessage& message)
{
    Dispatch d;
    if (message.message == PsmSetWizButtons) {
        applyWizButtons(static_cast<uint32_t>(message.lParam));
    }
}

void Sheet::applyWizButtons(uint32_t flags)
{
    // As the framework's wizard does: the flags enable Back and Next; Finish (or a disabled
    // Finish) takes Next's place. Once a Finish text was set, Back and Next stay hidden.
    WizardButtonsView view = buttons_;
    view.backEnabled = (flags & WizBack) != 0;
    view.nextEnabled = (flags & WizNext) != 0;
    bool finish = (flags & (WizFinish | WizDisabledFinish)) != 0;
    if (finish) {
        view.finishVisible = true;
        view.finishEnabled = (flags & WizFinish) != 0;
        view.nextVisible = false;
    } else if (!hasFinishText_) {
        view.finishVisible = false;
        view.finishEnabled = false;
        view.nextVisible = true;
    }
    buttons_ = view;
    if (frame_ != NoWindow) {
        backend().setWizardButtons(frame_, buttons_);
    }
}

void Sheet::setFinishText(const std::string& text)
{
    // PSM_SETFINISHTEXT: Finish shows, enabled, with this text; Back and Next are hidden.
    hasFinishText_ = true;
    buttons_.finishText = text;
    buttons_.finishVisible = true;
    buttons_.finishEnabled = true;
    buttons_.nextVisible = false;
    buttons_.nextEnabled = false;
    buttons_.backVisible = false;
    if (frame_ != NoWindow) {
        backend().setWizardButtons(frame_, buttons_);
    }
}

void Sheet::pressButton(SheetButton button)
{
    if (frame_ == NoWindow || ending_) {
        return;
    }
    switch (button) {
    case SheetButton::Back:
        goBy(-1);
        break;
    case SheetButton::Next:
        goBy(+1);
        break;
    case SheetButton::Finish:
        end(SheetFinished);
        break;
    case SheetButton::Cancel:
        end(SheetCancelled);
        break;
    case SheetButton::Help:
        winHelp(0, 0);
        break;
    }
}

void Sheet::wizardButton(WizardButton button)
{
    Dispatch d;
    // A press taken by a pump inside a running handler must not switch pages or open the About
    // box under that handler's feet; ending the sheet is safe, it takes effect afterwards.
    bool nested = dispatchDepth() > 1;
    switch (button) {
    case WizardButton::Back:
        if (!nested && buttons_.backVisible && buttons_.backEnabled) {
            pressButton(SheetButton::Back);
        }
        break;
    case WizardButton::Next:
        if (!nested && buttons_.nextVisible && buttons_.nextEnabled) {
            pressButton(SheetButton::Next);
        }
        break;
    case WizardButton::Finish:
        if (!nested && buttons_.finishVisible && buttons_.finishEnabled) {
            pressButton(SheetButton::Finish);
        }
        break;
    case WizardButton::Cancel:
        pressButton(SheetButton::Cancel);
        break;
    case WizardButton::Help:
        if (!nested) {
            pressButton(SheetButton::Help);
        }
        break;
    }
}

void Sheet::windowClose()
{
    Dispatch d;
    pressButton(SheetButton::Cancel);
}

void Sheet::winHelp(uint32_t, uint32_t) {}

void Sheet::goBy(int step)
{
    int target = active_ + step;
    // Past either end there is nowhere to go: the press does nothing at all (the page that
    // pressed Next on the last page keeps its state).
    if (target < 0 || target >= pageCount()) {
        return;
    }
    Page* current = activePage();
    if (current != nullptr && !current->onKillActive()) {
        return;
    }
    setActive(target);
}

void Sheet::setActive(int index)
{
    Page* p = page(index);
    if (p == nullptr) {
        return;
    }
    active_ = index;
    // The page's window is made on its first showing; OnInitDialog runs just before its first
    // activation.
    if (!p->hasWindow()) {
        p->createWindow(frame_, WindowRole::SheetPage);
    }
    if (frame_ == NoWindow || ending_) {
        return;
    }
    {
        Dispatch d;
        p->onSetActive();
    }
    if (frame_ != NoWindow && p->hasWindow()) {
        backend().showSheetPage(frame_, p->handle());
    }
}

void Sheet::end(int result)
{
    if (ending_) {
        return;
    }
    ending_ = true;
    result_ = result;
    if (modal_) {
        backend().endModal(frame_, result);
    } else {
        closeSheetWhenIdle(this);
    }
}

}  // namespace platform::ui
