#include "support/headless_backend.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "platform/threads.h"
#include "platform/ui/control_rules.h"

namespace platform::ui {

namespace {

// Signed distance from b to a on the wrapping tick counter.
int32_t ticksAfter(Ticks a, Ticks b)
{
    return static_cast<int32_t>(a - b);
}

}  // namespace

HeadlessBackend::HeadlessBackend() = default;
HeadlessBackend::~HeadlessBackend() = default;

HeadlessBackend::Win* HeadlessBackend::find(WindowId window)
{
    auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : &it->second;
}

const HeadlessBackend::Win* HeadlessBackend::find(WindowId window) const
{
    auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : &it->second;
}

HeadlessBackend::Control* HeadlessBackend::control(WindowId window, int controlId)
{
    Win* w = find(window);
    if (w == nullptr || controlId == StaticControlId) {
        return nullptr;
    }
    for (Control& c : w->controls) {
        if (c.tmpl.id == controlId) {
            return &c;
        }
    }
    return nullptr;
}

const HeadlessBackend::Control* HeadlessBackend::control(WindowId window, int controlId) const
{
    return const_cast<HeadlessBackend*>(this)->control(window, controlId);
}

// --- The user ---

bool HeadlessBackend::click(WindowId window, int controlId)
{
    Control* c = control(window, controlId);
    if (c == nullptr || !c->enabled) {
        return false;
    }
    if (c->tmpl.kind != ControlKind::PushButton && c->tmpl.kind != ControlKind::RadioButton) {
        return false;
    }
    if (c->tmpl.kind == ControlKind::RadioButton) {
        for (Control& other : find(window)->controls) {
            if (other.tmpl.kind == ControlKind::RadioButton) {
                other.checked = false;
            }
        }
        c->checked = true;
    }
    find(window)->events->windowCommand(controlId, Notification::Clicked);
    if (!inPump_) {
        dispatchPosted();
    }
    return true;
}

bool HeadlessBackend::selectListItem(WindowId window, int controlId, int index)
{
    Control* c = control(window, controlId);
    if (c == nullptr || !c->enabled || c->tmpl.kind != ControlKind::ListBox || index < 0 ||
        index >= static_cast<int>(c->items.size())) {
        return false;
    }
    c->selection = index;
    if ((c->tmpl.style & StyleNotify) != 0) {
        find(window)->events->windowCommand(controlId, Notification::SelectionChanged);
    }
    if (!inPump_) {
        dispatchPosted();
    }
    return true;
}

bool HeadlessBackend::typeText(WindowId window, int controlId, const std::string& characters)
{
    Control* c = control(window, controlId);
    if (c == nullptr || !c->enabled || c->tmpl.kind != ControlKind::Edit ||
        (c->tmpl.style & StyleReadOnly) != 0) {
        return false;
    }
    for (char ch : characters) {
        if ((c->tmpl.style & StyleDigitsOnly) != 0 && !std::isdigit(static_cast<unsigned char>(ch))) {
            continue;
        }
        if (c->limit > 0 && static_cast<int>(c->text.size()) >= c->limit) {
            continue;
        }
        c->text.push_back(ch);
    }
    c->selStart = c->selEnd = static_cast<int>(c->text.size());
    return true;
}

bool HeadlessBackend::pressKey(WindowId window, int controlId, Key key)
{
    Win* w = find(window);
    if (w == nullptr) {
        return false;
    }
    bool consumed = w->events->windowKey(controlId, key);
    if (!consumed && find(window) != nullptr) {
        if (key == Key::Enter) {
            pressDefault(window);
        } else if (Win* target = find(window); target->role == WindowRole::SheetPage) {
            // Escape in a wizard is its Cancel button.
            if (Win* sheet = find(target->parent)) {
                sheet->events->wizardButton(WizardButton::Cancel);
            }
        } else {
            target->events->windowClose();
        }
    }
    if (!inPump_) {
        dispatchPosted();
    }
    return true;
}

void HeadlessBackend::pressDefault(WindowId window)
{
    Win* w = find(window);
    if (w->role == WindowRole::SheetPage) {
        Win* sheet = find(w->parent);
        if (sheet == nullptr) {
            return;
        }
        if (std::optional<WizardButton> button = enterWizardButton(sheet->buttons)) {
            sheet->events->wizardButton(*button);
        }
        return;
    }
    // The default button, or IDOK without one; a disabled default button takes no Enter.
    const int id = w->enterCommand;
    const Control* c = control(window, id);
    if (c == nullptr || c->enabled) {
        w->events->windowCommand(id, Notification::Clicked);
    }
}

bool HeadlessBackend::pressWizardButton(WindowId sheet, WizardButton button)
{
    Win* w = find(sheet);
    if (w == nullptr || !w->isSheet) {
        return false;
    }
    const WizardButtonsView& v = w->buttons;
    bool usable = true;
    switch (button) {
    case WizardButton::Back:
        usable = v.backVisible && v.backEnabled;
        break;
    case WizardButton::Next:
        usable = v.nextVisible && v.nextEnabled;
        break;
    case WizardButton::Finish:
        usable = v.finishVisible && v.finishEnabled;
        break;
    case WizardButton::Cancel:
    case WizardButton::Help:
        break;
    }
    if (!usable) {
        return false;
    }
    w->events->wizardButton(button);
    if (!inPump_) {
        dispatchPosted();
    }
    return true;
}

bool HeadlessBackend::closeWindow(WindowId window)
{
    Win* w = find(window);
    if (w == nullptr) {
        return false;
    }
    w->events->windowClose();
    if (!inPump_) {
        dispatchPosted();
    }
    return true;
}

bool HeadlessBackend::chooseSystemMenuItem(WindowId window, uint32_t command)
{
    Win* w = find(window);
    if (w == nullptr || command == SystemMenuSeparator ||
        std::none_of(w->systemMenu.begin(), w->systemMenu.end(),
                     [command](const SystemMenuItem& item) { return item.command == command; })) {
        return false;
    }
    w->events->windowSystemCommand(command);
    if (!inPump_) {
        dispatchPosted();
    }
    return true;
}

void HeadlessBackend::queueInput(std::function<void()> input)
{
    Pending p;
    p.input = std::move(input);
    pending_.push_back(std::move(p));
}

int HeadlessBackend::postedPending() const
{
    std::lock_guard<platform::Mutex> lock(inboxMutex_);
    return static_cast<int>(inbox_.size()) +
           static_cast<int>(std::count_if(pending_.begin(), pending_.end(), [](const Pending& p) { return !p.input; }));
}

void HeadlessBackend::takeInbox()
{
    std::deque<std::pair<WindowId, PostedMessage>> arrived;
    {
        std::lock_guard<platform::Mutex> lock(inboxMutex_);
        arrived.swap(inbox_);
    }
    for (auto& [window, message] : arrived) {
        post(window, message);
    }
}

// --- Time ---

bool HeadlessBackend::dispatchOnePosted()
{
    takeInbox();
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (it->input) {
            continue;
        }
        WindowId window = it->window;
        PostedMessage message = it->message;
        pending_.erase(it);
        if (Win* w = find(window)) {
            w->events->windowPosted(message);
            return true;
        }
        return dispatchOnePosted();
    }
    return false;
}

bool HeadlessBackend::takeOne()
{
    takeInbox();
    while (!pending_.empty()) {
        Pending p = std::move(pending_.front());
        pending_.pop_front();
        if (p.input) {
            p.input();
            return true;
        }
        if (Win* w = find(p.window)) {
            w->events->windowPosted(p.message);
            return true;
        }
    }
    return false;
}

void HeadlessBackend::dispatchPosted()
{
    while (dispatchOnePosted()) {
    }
}

bool HeadlessBackend::fireDueTimer(Ticks now)
{
    WindowId bestWindow = NoWindow;
    int bestId = 0;
    const Timer* best = nullptr;
    for (const auto& [id, w] : windows_) {
        for (const auto& [timerId, t] : w.timers) {
            if (ticksAfter(t.due, now) > 0) {
                continue;
            }
            if (best == nullptr || ticksAfter(t.due, best->due) < 0 ||
                (t.due == best->due && t.order < best->order)) {
                best = &t;
                bestWindow = id;
                bestId = timerId;
            }
        }
    }
    if (best == nullptr) {
        return false;
    }
    return fireTimer(bestWindow, bestId);
}

void HeadlessBackend::runFor(uint32_t ms)
{
    const Ticks deadline = platform::tickCount() + ms;
    dispatchPosted();
    for (;;) {
        // Only timers due by the deadline fire; one that fell behind while a handler ran long
        // fires once, not once for every period it missed.
        Ticks now = platform::tickCount();
        Ticks limit = ticksAfter(deadline, now) > 0 ? now : deadline;
        if (fireDueTimer(limit)) {
            continue;
        }
        now = platform::tickCount();
        if (ticksAfter(deadline, now) <= 0) {
            return;
        }
        uint32_t wait = static_cast<uint32_t>(ticksAfter(deadline, now));
        for (const auto& [id, w] : windows_) {
            for (const auto& [timerId, t] : w.timers) {
                int32_t ahead = ticksAfter(t.due, now);
                if (ahead > 0 && static_cast<uint32_t>(ahead) < wait) {
                    wait = static_cast<uint32_t>(ahead);
                }
            }
        }
        platform::sleepMs(wait);
    }
}

bool HeadlessBackend::fireTimer(WindowId window, int timerId)
{
    Win* w = find(window);
    if (w == nullptr) {
        return false;
    }
    auto it = w->timers.find(timerId);
    if (it == w->timers.end()) {
        return false;
    }
    // Next due from now: ticks missed while the thread was busy are not made up.
    it->second.due = platform::tickCount() + it->second.period;
    w->events->windowTimer(timerId);
    if (!inPump_) {
        dispatchPosted();
    }
    return true;
}

bool HeadlessBackend::timerActive(WindowId window, int timerId) const
{
    const Win* w = find(window);
    return w != nullptr && w->timers.count(timerId) != 0;
}

uint32_t HeadlessBackend::timerPeriod(WindowId window, int timerId) const
{
    const Win* w = find(window);
    if (w == nullptr) {
        return 0;
    }
    auto it = w->timers.find(timerId);
    return it == w->timers.end() ? 0 : it->second.period;
}

void HeadlessBackend::queueMessageBoxAnswer(int answer)
{
    answers_.push_back(answer);
}

// --- Inspection ---

bool HeadlessBackend::exists(WindowId window) const
{
    return find(window) != nullptr;
}

std::string HeadlessBackend::windowTitle(WindowId window) const
{
    const Win* w = find(window);
    return w == nullptr ? std::string() : w->title;
}

WindowId HeadlessBackend::shownPage(WindowId sheet) const
{
    const Win* w = find(sheet);
    return w == nullptr ? NoWindow : w->shownPage;
}

WizardButtonsView HeadlessBackend::wizardButtons(WindowId sheet) const
{
    const Win* w = find(sheet);
    return w == nullptr ? WizardButtonsView{} : w->buttons;
}

bool HeadlessBackend::modalEnding(WindowId window) const
{
    const Win* w = find(window);
    return w != nullptr && w->modalRunning && w->modalEnded;
}

bool HeadlessBackend::isModalRunning(WindowId window) const
{
    const Win* w = find(window);
    return w != nullptr && w->modalRunning;
}

std::vector<int32_t> HeadlessBackend::listDataAll(WindowId window, int controlId) const
{
    std::vector<int32_t> out;
    if (const Control* c = control(window, controlId)) {
        for (const auto& item : c->items) {
            out.push_back(static_cast<int32_t>(item.second));
        }
    }
    return out;
}

std::vector<std::string> HeadlessBackend::listItems(WindowId window, int controlId) const
{
    std::vector<std::string> out;
    if (const Control* c = control(window, controlId)) {
        for (const auto& item : c->items) {
            out.push_back(item.first);
        }
    }
    return out;
}

std::vector<std::string> HeadlessBackend::textHistory(WindowId window, int controlId) const
{
    const Control* c = control(window, controlId);
    return c == nullptr ? std::vector<std::string>{} : c->history;
}

void HeadlessBackend::clearTextHistory(WindowId window, int controlId)
{
    if (Control* c = control(window, controlId)) {
        c->history.clear();
    }
}

int32_t HeadlessBackend::image(WindowId window, int controlId) const
{
    const Control* c = control(window, controlId);
    return c == nullptr ? 0 : c->image;
}

int HeadlessBackend::textLimit(WindowId window, int controlId) const
{
    const Control* c = control(window, controlId);
    return c == nullptr ? 0 : c->limit;
}

bool HeadlessBackend::hasControl(WindowId window, int controlId) const
{
    return control(window, controlId) != nullptr;
}

// --- Backend: windows ---

WindowId HeadlessBackend::createDialog(const DialogTemplate& dialog, WindowId parent,
                                       WindowRole role, WindowEvents* events)
{
    WindowId id = nextId_++;
    Win& w = windows_[id];
    w.events = events;
    w.parent = parent;
    w.role = role;
    w.title = dialog.title;
    w.enterCommand = enterCommandId(dialog);
    for (const ControlTemplate& tmpl : dialog.controls) {
        Control c;
        c.tmpl = tmpl;
        c.text = tmpl.text;
        c.enabled = (tmpl.style & StyleDisabled) == 0;
        c.image = tmpl.image;
        c.limit = tmpl.textLimit;
        w.controls.push_back(std::move(c));
    }
    return id;
}

WindowId HeadlessBackend::createSheet(WindowEvents* events)
{
    WindowId id = nextId_++;
    Win& w = windows_[id];
    w.events = events;
    w.isSheet = true;
    return id;
}

void HeadlessBackend::destroyWindow(WindowId window)
{
    windows_.erase(window);
    for (auto& [id, w] : windows_) {
        if (w.shownPage == window) {
            w.shownPage = NoWindow;
        }
    }
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [window](const Pending& p) { return !p.input && p.window == window; }),
                   pending_.end());
}

void HeadlessBackend::showSheetPage(WindowId sheet, WindowId page)
{
    Win* s = find(sheet);
    Win* p = find(page);
    if (s == nullptr || p == nullptr) {
        return;
    }
    s->shownPage = page;
    s->title = p->title;
}

void HeadlessBackend::setWizardButtons(WindowId sheet, const WizardButtonsView& view)
{
    if (Win* s = find(sheet)) {
        s->buttons = view;
    }
}

void HeadlessBackend::record(WindowId window)
{
    const Win* w = find(window);
    ModalRecord r;
    r.window = window;
    r.title = w->title;
    for (const Control& c : w->controls) {
        if (c.tmpl.id != StaticControlId) {
            r.texts[c.tmpl.id] = c.text;
        }
        r.allTexts.push_back(c.text);
        r.images.push_back(c.image);
    }
    modals_.push_back(std::move(r));
}

int HeadlessBackend::runModal(WindowId window)
{
    Win* w = find(window);
    if (w == nullptr) {
        return IdCancel;
    }
    w->modalRunning = true;
    w->modalEnded = false;
    const bool isSheet = w->isSheet;
    if (!isSheet) {
        record(window);
    }
    for (;;) {
        w = find(window);
        if (w == nullptr) {
            return IdCancel;
        }
        if (w->modalEnded) {
            break;
        }
        if (takeOne()) {
            continue;
        }
        if (onModal && onModal(window)) {
            continue;
        }
        // Nobody drives any more: a dialog is answered as its default button would, a sheet
        // is cancelled, so a test can never hang here.
        w = find(window);
        if (w == nullptr || w->modalEnded) {
            continue;
        }
        if (!isSheet && !onModal && control(window, IdOk) != nullptr) {
            click(window, IdOk);
        } else {
            w->events->windowClose();
        }
        w = find(window);
        if (w != nullptr && !w->modalEnded) {
            w->modalEnded = true;
            w->modalResult = IdCancel;
        }
    }
    w->modalRunning = false;
    return w->modalResult;
}

void HeadlessBackend::endModal(WindowId window, int result)
{
    if (Win* w = find(window)) {
        w->modalEnded = true;
        w->modalResult = result;
    }
}

PumpResult HeadlessBackend::pumpOne()
{
    struct PumpScope {
        bool& flag;
        bool saved;
        explicit PumpScope(bool& f) : flag(f), saved(f) { flag = true; }
        ~PumpScope() { flag = saved; }
    } scope(inPump_);
    if (takeOne()) {
        return PumpResult::Dispatched;
    }
    if (fireDueTimer(platform::tickCount())) {
        return PumpResult::Dispatched;
    }
    return PumpResult::Nothing;
}

void HeadlessBackend::post(WindowId window, const PostedMessage& message)
{
    if (find(window) != nullptr) {
        Pending p;
        p.window = window;
        p.message = message;
        pending_.push_back(std::move(p));
    }
}

void HeadlessBackend::postFromAnyThread(WindowId window, const PostedMessage& message)
{
    std::lock_guard<platform::Mutex> lock(inboxMutex_);
    inbox_.emplace_back(window, message);
}

void HeadlessBackend::setTimer(WindowId window, int timerId, uint32_t periodMs)
{
    Win* w = find(window);
    if (w == nullptr) {
        return;
    }
    Timer& t = w->timers[timerId];
    t.period = platform::ui::timerPeriod(periodMs);
    t.due = platform::tickCount() + t.period;
    t.order = timerOrder_++;
}

void HeadlessBackend::killTimer(WindowId window, int timerId)
{
    if (Win* w = find(window)) {
        w->timers.erase(timerId);
    }
}

// --- Backend: controls ---

void HeadlessBackend::setText(WindowId window, int controlId, const std::string& text)
{
    if (Control* c = control(window, controlId)) {
        c->text = text;
        c->history.push_back(text);
        c->selStart = c->selEnd = 0;
    }
}

std::string HeadlessBackend::text(WindowId window, int controlId)
{
    const Control* c = control(window, controlId);
    return c == nullptr ? std::string() : c->text;
}

void HeadlessBackend::setEnabled(WindowId window, int controlId, bool enabled)
{
    if (Control* c = control(window, controlId)) {
        c->enabled = enabled;
    }
}

bool HeadlessBackend::isEnabled(WindowId window, int controlId)
{
    const Control* c = control(window, controlId);
    return c != nullptr && c->enabled;
}

void HeadlessBackend::setToolTip(WindowId window, int controlId, const std::string& text)
{
    if (Control* c = control(window, controlId)) {
        c->toolTip = text;
    }
}

std::string HeadlessBackend::toolTip(WindowId window, int controlId)
{
    const Control* c = control(window, controlId);
    return c != nullptr ? c->toolTip : std::string();
}

void HeadlessBackend::setChecked(WindowId window, int controlId, bool checked)
{
    if (Control* c = control(window, controlId)) {
        c->checked = checked;
    }
}

bool HeadlessBackend::isChecked(WindowId window, int controlId)
{
    const Control* c = control(window, controlId);
    return c != nullptr && c->checked;
}

void HeadlessBackend::setImage(WindowId window, int controlId, int32_t imageId)
{
    if (Control* c = control(window, controlId)) {
        c->image = imageId;
    }
}

void HeadlessBackend::setProgressRange(WindowId window, int controlId, int low, int high)
{
    if (Control* c = control(window, controlId)) {
        c->rangeLow = low;
        c->rangeHigh = high;
        c->pos = std::clamp(c->pos, low, std::max(low, high));
    }
}

void HeadlessBackend::setProgressPos(WindowId window, int controlId, int pos)
{
    if (Control* c = control(window, controlId)) {
        c->pos = std::clamp(pos, c->rangeLow, std::max(c->rangeLow, c->rangeHigh));
    }
}

int HeadlessBackend::progressPos(WindowId window, int controlId)
{
    const Control* c = control(window, controlId);
    return c == nullptr ? 0 : c->pos;
}

void HeadlessBackend::listReset(WindowId window, int controlId)
{
    if (Control* c = control(window, controlId)) {
        c->items.clear();
        c->selection = -1;
    }
}

int HeadlessBackend::listAdd(WindowId window, int controlId, const std::string& text)
{
    Control* c = control(window, controlId);
    if (c == nullptr || c->tmpl.kind != ControlKind::ListBox) {
        return -1;
    }
    int index = static_cast<int>(c->items.size());
    if ((c->tmpl.style & StyleSorted) != 0) {
        index = sortedInsertIndex(index, [c](int i) { return c->items[static_cast<size_t>(i)].first; }, text);
    }
    c->items.insert(c->items.begin() + index, {text, 0});
    if (c->selection >= index) {
        ++c->selection;
    }
    return index;
}

void HeadlessBackend::listSetData(WindowId window, int controlId, int index, intptr_t data)
{
    Control* c = control(window, controlId);
    if (c != nullptr && index >= 0 && index < static_cast<int>(c->items.size())) {
        c->items[static_cast<size_t>(index)].second = data;
    }
}

intptr_t HeadlessBackend::listData(WindowId window, int controlId, int index)
{
    const Control* c = control(window, controlId);
    if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) {
        return -1;
    }
    return c->items[static_cast<size_t>(index)].second;
}

int HeadlessBackend::listCount(WindowId window, int controlId)
{
    const Control* c = control(window, controlId);
    return c == nullptr || c->tmpl.kind != ControlKind::ListBox ? -1 : static_cast<int>(c->items.size());
}

std::string HeadlessBackend::listText(WindowId window, int controlId, int index)
{
    const Control* c = control(window, controlId);
    if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) {
        return std::string();
    }
    return c->items[static_cast<size_t>(index)].first;
}

int HeadlessBackend::listSelection(WindowId window, int controlId)
{
    const Control* c = control(window, controlId);
    return c == nullptr ? -1 : c->selection;
}

void HeadlessBackend::listSelect(WindowId window, int controlId, int index)
{
    if (Control* c = control(window, controlId)) {
        c->selection = index >= 0 && index < static_cast<int>(c->items.size()) ? index : -1;
    }
}

void HeadlessBackend::setTextLimit(WindowId window, int controlId, int limit)
{
    if (Control* c = control(window, controlId)) {
        c->limit = std::max(limit, 0);
    }
}

int HeadlessBackend::editLineCount(WindowId window, int controlId)
{
    const Control* c = control(window, controlId);
    return c == nullptr ? -1 : static_cast<int>(editLineStarts(c->text).size());
}

int HeadlessBackend::editLineIndex(WindowId window, int controlId, int line)
{
    const Control* c = control(window, controlId);
    if (c == nullptr) {
        return -1;
    }
    return editLineIndexIn(c->text, line, c->selStart);
}

int HeadlessBackend::editLineLength(WindowId window, int controlId, int charIndex)
{
    const Control* c = control(window, controlId);
    if (c == nullptr) {
        return 0;
    }
    return editLineLengthIn(c->text, charIndex, c->selStart);
}

void HeadlessBackend::editSetSelection(WindowId window, int controlId, int start, int end)
{
    Control* c = control(window, controlId);
    if (c == nullptr) {
        return;
    }
    int size = static_cast<int>(c->text.size());
    if (end < 0 || end > size) {
        end = size;
    }
    start = std::clamp(start, 0, size);
    if (start > end) {
        std::swap(start, end);
    }
    c->selStart = start;
    c->selEnd = end;
}

void HeadlessBackend::editReplaceSelection(WindowId window, int controlId, const std::string& text)
{
    Control* c = control(window, controlId);
    if (c == nullptr) {
        return;
    }
    size_t start = static_cast<size_t>(c->selStart);
    c->text.replace(start, static_cast<size_t>(c->selEnd - c->selStart), text);
    c->selStart = c->selEnd = static_cast<int>(start + text.size());
}

void HeadlessBackend::repaintNow(WindowId window)
{
    Win* w = find(window);
    if (w == nullptr) {
        return;
    }
    ++w->repaints;
    if (onRepaint) {
        onRepaint(window);
    }
}

int HeadlessBackend::repaintCount(WindowId window) const
{
    const Win* w = find(window);
    return w != nullptr ? w->repaints : 0;
}

void HeadlessBackend::setWindowIcon(WindowId window, int32_t imageId)
{
    if (Win* w = find(window)) {
        w->icon = imageId;
    }
}

void HeadlessBackend::appendSystemMenuItem(WindowId window, uint32_t command, const std::string& text)
{
    if (Win* w = find(window)) {
        w->systemMenu.push_back(SystemMenuItem{command, command == SystemMenuSeparator ? std::string() : text});
    }
}

int32_t HeadlessBackend::windowIcon(WindowId window) const
{
    const Win* w = find(window);
    return w == nullptr ? 0 : w->icon;
}

std::vector<HeadlessBackend::SystemMenuItem> HeadlessBackend::systemMenu(WindowId window) const
{
    const Win* w = find(window);
    return w == nullptr ? std::vector<SystemMenuItem>{} : w->systemMenu;
}

int HeadlessBackend::messageBox(WindowId owner, const std::string& text, const std::string& caption,
                                MessageBoxIcon icon, MessageBoxButtons buttons)
{
    MessageBoxRecord r{owner, text, caption, icon, buttons, buttons == MessageBoxButtons::YesNo ? IdYes : IdOk};
    if (!answers_.empty()) {
        r.answer = answers_.front();
        answers_.pop_front();
    }
    if (onMessageBox) {
        onMessageBox(r);
    }
    messageBoxes_.push_back(r);
    return r.answer;
}

ScopedHeadlessBackend::ScopedHeadlessBackend()
{
    auto made = std::make_unique<HeadlessBackend>();
    backend_ = made.get();
    installBackend(std::move(made));
}

ScopedHeadlessBackend::~ScopedHeadlessBackend()
{
    installBackend(nullptr);
}

}  // namespace platform::ui
