// The console seam over the terminal on standard error.
#include "platform/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

bool stderrIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

bool stdoutIsTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

int stderrColumns()
{
    winsize size{};
    if (!stderrIsTerminal() || ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

}  // namespace platform
