// The console seam over the console window that standard error writes to, if it does.
#include <windows.h>

#include "platform/console.h"

namespace platform {

bool stderrIsTerminal()
{
    // A file or a pipe has no console mode.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool stdoutIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

int stderrColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!stderrIsTerminal() || !GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        return 0;
    }
    // The visible window, not the buffer, which may be far wider than what the user sees.
    return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace platform
