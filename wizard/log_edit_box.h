// LogEditBox: a read-only multi-line edit box that text is appended to, keeping at most
// maxLineCount lines (the oldest line goes first). It owns no text: the control holds it.
// Thread rule: UI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/window.h"

class LogEditBox : public platform::ui::EditControl {
public:
    LogEditBox(const platform::ui::Window& owner, int controlId) : EditControl(owner, controlId) {}

    static constexpr int32_t DefaultMaxLineCount = 200;
    int32_t maxLineCount = DefaultMaxLineCount;

    // Empties the box.
    void clear();
    // Appends the text at the end, followed by "\r\n" when addLineBreak is non-zero.
    void append(const std::string& text, int addLineBreak);
};
