// The rules of the system's controls that do not depend on how they are drawn, kept once for
// every window backend so that the backends cannot drift apart: lines of a multi-line edit box
// in "\r\n" text (EM_GETLINECOUNT, EM_LINEINDEX, EM_LINELENGTH, with -1 meaning the caret's line),
// where a sorted list box puts a new item (LBS_SORT), the shortest timer period
// (USER_TIMER_MINIMUM), and what Enter does when no window kept it (IsDialogMessage: the default
// button of a dialog, else IDOK; in a wizard the shown and enabled one of Next and Finish).
// Results: indexes and counts as the backend calls of the same name (backend.h).
// Thread rule: pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/ui/dialog_template.h"

namespace platform::ui {

constexpr const char* EditLineBreak = "\r\n";
constexpr int EditLineBreakLength = 2;

// A timer asked for a shorter period runs at this one.
constexpr uint32_t MinimumTimerPeriodMs = 10;  // USER_TIMER_MINIMUM
uint32_t timerPeriod(uint32_t askedMs);

// Start indexes of the lines of an edit text; an empty text has one line.
std::vector<int> editLineStarts(const std::string& text);
// The start of a line; line -1: the line holding the caret. -1 when the line does not exist.
int editLineIndexIn(const std::string& text, int line, int caret);
// Length of the line holding a character index (clamped to the text), line break excluded;
// charIndex -1: the caret's line.
int editLineLengthIn(const std::string& text, int charIndex, int caret);

// Where a sorted list box puts a new item: after every item that sorts before it or equal to it,
// case not counting. itemText(i) gives item i of the count items there.
int sortedInsertIndex(int count, const std::function<std::string(int)>& itemText, const std::string& text);

// The wizard button Enter presses: Next when shown (Finish not in its place) and enabled, else
// Finish when shown and enabled, else none.
std::optional<WizardButton> enterWizardButton(const WizardButtonsView& view);
// The command Enter sends in a dialog: its StyleDefaultButton push button, else IdOk.
int enterCommandId(const DialogTemplate& dialog);

}  // namespace platform::ui
