#include "wizard/log_edit_box.h"

namespace {
constexpr const char* LineBreak = "\r\n";
}

void LogEditBox::clear()
{
    setSel(0, -1);
    replaceSel("");
    setText("");
}

void LogEditBox::append(const std::string& text, int addLineBreak)
{
    if (lineCount() >= maxLineCount) {
        // The first line and its line break: everything up to the start of the second line.
        int second = lineIndex(1);
        if (second > 0) {
            setSel(0, second);
            replaceSel("");
        }
    }
    // No fixed formatting buffer: a long text is appended whole rather than cut or overrun.
    std::string formatted = addLineBreak != 0 ? text + LineBreak : text;
    int lastLine = lineCount() - 1;
    int lastStart = lineIndex(lastLine < 0 ? 0 : lastLine);
    int end = (lastStart < 0 ? 0 : lastStart) + lineLength(lastStart < 0 ? 0 : lastStart);
    setSel(end, end);
    replaceSel(formatted);
}
