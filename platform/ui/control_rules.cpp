#include "platform/ui/control_rules.h"

#include <algorithm>
#include <cctype>

namespace platform::ui {

namespace {

// The list box's order: case does not count.
bool lessNoCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

// The start of the line holding index (0..size).
int lineStartOf(const std::vector<int>& starts, int index)
{
    return *(std::upper_bound(starts.begin(), starts.end(), index) - 1);
}

}  // namespace

uint32_t timerPeriod(uint32_t askedMs)
{
    return std::max(askedMs, MinimumTimerPeriodMs);
}

std::vector<int> editLineStarts(const std::string& text)
{
    std::vector<int> starts{0};
    for (size_t at = text.find(EditLineBreak); at != std::string::npos;
         at = text.find(EditLineBreak, at + EditLineBreakLength)) {
        starts.push_back(static_cast<int>(at) + EditLineBreakLength);
    }
    return starts;
}

int editLineIndexIn(const std::string& text, int line, int caret)
{
    std::vector<int> starts = editLineStarts(text);
    if (line < 0) {
        return lineStartOf(starts, std::clamp(caret, 0, static_cast<int>(text.size())));
    }
    return line < static_cast<int>(starts.size()) ? starts[static_cast<size_t>(line)] : -1;
}

int editLineLengthIn(const std::string& text, int charIndex, int caret)
{
    std::vector<int> starts = editLineStarts(text);
    const int size = static_cast<int>(text.size());
    const int index = std::clamp(charIndex < 0 ? caret : charIndex, 0, size);
    auto after = std::upper_bound(starts.begin(), starts.end(), index);
    int end = after == starts.end() ? size : *after - EditLineBreakLength;
    return end - *(after - 1);
}

int sortedInsertIndex(int count, const std::function<std::string(int)>& itemText, const std::string& text)
{
    int index = 0;
    while (index < count && !lessNoCase(text, itemText(index))) {
        ++index;
    }
    return index;
}

std::optional<WizardButton> enterWizardButton(const WizardButtonsView& view)
{
    if (view.nextVisible && !view.finishVisible && view.nextEnabled) {
        return WizardButton::Next;
    }
    if (view.finishVisible && view.finishEnabled) {
        return WizardButton::Finish;
    }
    return std::nullopt;
}

int enterCommandId(const DialogTemplate& dialog)
{
    for (const ControlTemplate& c : dialog.controls) {
        if (c.kind == ControlKind::PushButton && (c.style & StyleDefaultButton) != 0) {
            return c.id;
        }
    }
    return IdOk;
}

}  // namespace platform::ui
