#include "platform/ui/window.h"

#include <algorithm>

#include "platform/executable_path.h"
#include "platform/ui/dispatch.h"
#include "platform/ui/sheet.h"

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

}  // namespace

Dispatch::Dispatch()
{
    ++depth;
}

Dispatch::~Dispatch()
{
    --depth;
    closeFinishedSheets();
}

void closeSheetWhenIdle(Sheet* sheet)
{
    sheetsToClose.push_back(sheet);
    closeFinishedSheets();
}

void forgetSheet(Sheet* sheet)
{
    sheetsToClose.erase(std::remove(sheetsToClose.begin(), sheetsToClose.end(), sheet), sheetsToClose.end());
}

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

void Window::setItemToolTip(int controlId, const std::string& text)
{
    if (hasWindow()) {
        backend().setToolTip(handle_, controlId, text);
    }
}

std::string Window::itemToolTip(int controlId) const
{
    return hasWindow() ? backend().toolTip(handle_, controlId) : std::string();
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
    return backend().messageBox(handle_, text, applicationName(), icon, MessageBoxButtons::Ok);
}

int Window::messageBox(const std::string& text, const std::string& caption, MessageBoxIcon icon,
                       MessageBoxButtons buttons)
{
    return backend().messageBox(handle_, text, caption, icon, buttons);
}

void Window::setIcon(int32_t imageId)
{
    if (hasWindow()) {
        backend().setWindowIcon(handle_, imageId);
    }
}

void Window::appendSystemMenu(uint32_t command, const std::string& text)
{
    if (hasWindow()) {
        backend().appendSystemMenuItem(handle_, command, text);
    }
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

void Window::windowSystemCommand(uint32_t command)
{
    Dispatch d;
    onSysCommand(command);
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
