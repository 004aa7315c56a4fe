#include "platform/ui/window.h"

#include <algorithm>

#include "platform/host.h"

namespace platform::ui {

namespace {

constexpr const char* FallbackApplicationName = "Tarvo32";

int depth = 0;
// Sheets whose end was asked for outside a modal loop; closed once no handler runs.
std::vector<Sheet*> sheetsToClose;

void closeFinishedSheets()
{
    while (depth == 0 && !sheetsToClose.empty()) {
        Sheet* sheet = sheetsToClose.front();
        sheetsToClose.erase(sheetsToClose.begin());
        sheet->close();
    }
}

// Every event handler runs inside one of these, so the layer can tell a nested event (taken by
// a pump or a modal loop inside another handler) from a top-level one.
class Dispatch {
public:
    Dispatch() { ++depth; }
    ~Dispatch()
    {
        --depth;
        closeFinishedSheets();
    }
    Dispatch(const Dispatch&) = delete;
    Dispatch& operator=(const Dispatch&) = delete;
};

}  // namespace

std::string applicationName()
{
    std::string path = platform::executablePath();
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        name.resize(dot);
    }
    return name.empty() ? FallbackApplicationName : name;
}

int dispatchDepth()
{
    return depth;
}

// --- Window ---

Window::Window(DialogTemplate dialog) : template_(std::move(dialog)) {}

Window::~Window()
{
    // A window object must not outlive its backend window unnoticed: the backend would call a
    // dead object.
    destroyWindow();
}

void Window::createWindow(WindowId parent, WindowRole role)
{
    if (handle_ != NoWindow) {
        return;
    }
    handle_ = backend().createDialog(template_, parent, role, this);
    Dispatch d;
    onInitDialog();
}

void Window::destroyWindow()
{
    if (handle_ == NoWindow || !backendAvailable()) {
        handle_ = NoWindow;
        return;
    }
    {
        Dispatch d;
        onDestroy();
    }
    backend().destroyWindow(handle_);
    handle_ = NoWindow;
}

void Window::setItemText(int controlId, const std::string& text)
{
    if (hasWindow()) {
        backend().setText(handle_, controlId, text);
    }
}

std::string Window::itemText(int controlId) const
{
    return hasWindow() ? backend().text(handle_, controlId) : std::string();
}

void Window::enableItem(int controlId, bool enabled)
{
    if (hasWindow()) {
        backend().setEnabled(handle_, controlId, enabled);
    }
}

bool Window::itemEnabled(int controlId) const
{
    return hasWindow() && backend().isEnabled(handle_, controlId);
}

void Window::checkItem(int controlId, bool checked)
{
    if (hasWindow()) {
        backend().setChecked(handle_, controlId, checked);
    }
}

bool Window::itemChecked(int controlId) const
{
    return hasWindow() && backend().isChecked(handle_, controlId);
}

void Window::setItemImage(int controlId, int32_t imageId)
{
    if (hasWindow()) {
        backend().setImage(handle_, controlId, imageId);
    }
}

void Window::setProgressRange(int controlId, int low, int high)
{
    if (hasWindow()) {
        backend().setProgressRange(handle_, controlId, low, high);
    }
}

void Window::setProgressPos(int controlId, int pos)
{
    if (hasWindow()) {
        backend().setProgressPos(handle_, controlId, pos);
    }
}

void Window::updateWindow()
{
    if (hasWindow()) {
        backend().repaintNow(handle_);
    }
}

void Window::setTimer(int timerId, uint32_t periodMs)
{
    if (hasWindow()) {
        backend().setTimer(handle_, timerId, periodMs);
    }
}

void Window::killTimer(int timerId)
{
    if (hasWindow()) {
        backend().killTimer(handle_, timerId);
    }
}

void Window::postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (hasWindow()) {
        backend().post(handle_, PostedMessage{message, wParam, lParam});
    }
}

int Window::messageBox(const std::string& text, MessageBoxIcon icon)
{
    return backend().messageBox(handle_, text, applicationName(), icon);
}

void Window::windowTimer(int timerId)
{
    Dispatch d;
    onTimer(timerId);
}

void Window::windowCommand(int controlId, Notification code)
{
    Dispatch d;
    onCommand(controlId, code);
}

void Window::windowPosted(const PostedMessage& message)
{
    Dispatch d;
    onUserMessage(message);
}

bool Window::windowKey(int controlId, Key key)
{
    Dispatch d;
    return preTranslateKey(controlId, key);
}

void Window::windowClose()
{
    Dispatch d;
    onClose();
}

// --- Dialog ---

int Dialog::run(WindowId owner)
{
    createWindow(owner, WindowRole::ModalDialog);
    int result = backend().runModal(handle());
    destroyWindow();
    return result;
}

void Dialog::endDialog(int result)
{
    if (hasWindow()) {
        backend().endModal(handle(), result);
    }
}

void Dialog::onCommand(int controlId, Notification code)
{
    if (code == Notification::Clicked && (controlId == IdOk || controlId == IdCancel)) {
        endDialog(controlId);
    }
}

// --- Page ---

void Page::postWizardButtons(uint32_t flags)
{
    if (sheet_ != nullptr) {
        sheet_->post(PostedMessage{PsmSetWizButtons, 0, static_cast<intptr_t>(flags)});
    }
}

void Page::setFinishText(const std::string& text)
{
    if (sheet_ != nullptr) {
        sheet_->setFinishText(text);
    }
}

void Page::pressButton(SheetButton button)
{
    if (sheet_ != nullptr) {
        sheet_->pressButton(button);
    }
}

Page::PumpOutcome Page::pumpOneMessage()
{
    if (sheet_ != nullptr && sheet_->isEnding()) {
        return PumpOutcome::Closing;
    }
    PumpResult r = backend().pumpOne();
    if (sheet_ == nullptr || !sheet_->isOpen() || sheet_->isEnding() || !hasWindow()) {
        return PumpOutcome::Closing;
    }
    return r == PumpResult::Dispatched ? PumpOutcome::Dispatched : PumpOutcome::Nothing;
}

void Page::windowClose()
{
    if (sheet_ != nullptr) {
        sheet_->pressButton(SheetButton::Cancel);
    }
}

// --- Sheet ---

Sheet::Sheet() = default;

Sheet::~Sheet()
{
    sheetsToClose.erase(std::remove(sheetsToClose.begin(), sheetsToClose.end(), this),
                        sheetsToClose.end());
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
    sheetsToClose.erase(std::remove(sheetsToClose.begin(), sheetsToClose.end(), this),
                        sheetsToClose.end());
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
    bool nested = depth > 1;
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
        sheetsToClose.push_back(this);
        closeFinishedSheets();
    }
}

// --- Controls ---

void ListBoxControl::resetContent()
{
    if (owner_->hasWindow()) {
        backend().listReset(owner_->handle(), id_);
    }
}

int ListBoxControl::addString(const std::string& text)
{
    return owner_->hasWindow() ? backend().listAdd(owner_->handle(), id_, text) : -1;
}

void ListBoxControl::setItemData(int index, intptr_t data)
{
    if (owner_->hasWindow()) {
        backend().listSetData(owner_->handle(), id_, index, data);
    }
}

intptr_t ListBoxControl::itemData(int index) const
{
    return owner_->hasWindow() ? backend().listData(owner_->handle(), id_, index) : -1;
}

int ListBoxControl::count() const
{
    return owner_->hasWindow() ? backend().listCount(owner_->handle(), id_) : -1;
}

std::string ListBoxControl::text(int index) const
{
    return owner_->hasWindow() ? backend().listText(owner_->handle(), id_, index) : std::string();
}

int ListBoxControl::curSel() const
{
    return owner_->hasWindow() ? backend().listSelection(owner_->handle(), id_) : -1;
}

void ListBoxControl::setCurSel(int index)
{
    if (owner_->hasWindow()) {
        backend().listSelect(owner_->handle(), id_, index);
    }
}

void EditControl::setText(const std::string& text)
{
    if (owner_->hasWindow()) {
        backend().setText(owner_->handle(), id_, text);
    }
}

std::string EditControl::text() const
{
    return owner_->hasWindow() ? backend().text(owner_->handle(), id_) : std::string();
}

void EditControl::setLimitText(int limit)
{
    if (owner_->hasWindow()) {
        backend().setTextLimit(owner_->handle(), id_, limit);
    }
}

int EditControl::lineCount() const
{
    return owner_->hasWindow() ? backend().editLineCount(owner_->handle(), id_) : -1;
}

int EditControl::lineIndex(int line) const
{
    return owner_->hasWindow() ? backend().editLineIndex(owner_->handle(), id_, line) : -1;
}

int EditControl::lineLength(int charIndex) const
{
    return owner_->hasWindow() ? backend().editLineLength(owner_->handle(), id_, charIndex) : 0;
}

void EditControl::setSel(int start, int end)
{
    if (owner_->hasWindow()) {
        backend().editSetSelection(owner_->handle(), id_, start, end);
    }
}

void EditControl::replaceSel(const std::string& text)
{
    if (owner_->hasWindow()) {
        backend().editReplaceSelection(owner_->handle(), id_, text);
    }
}

WaitCursor::WaitCursor()
{
    backend().beginWaitCursor();
}

WaitCursor::~WaitCursor()
{
    backend().endWaitCursor();
}

}  // namespace platform::ui
