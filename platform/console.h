// The console the command line writes to (GetConsoleMode and GetConsoleScreenBufferInfo on the
// standard error handle): whether progress may redraw one line in place, and how wide it is.
// Results: false / 0 when stderr is a file, a pipe, or its width is unknown.
// Thread rule: safe from any thread.
#pragma once

namespace platform {

// True when standard error is a terminal (a console window).
bool stderrIsTerminal();
// True when standard output is one.
bool stdoutIsTerminal();
// The terminal's width in characters; 0 when it is not a terminal or will not say.
int stderrColumns();

}  // namespace platform
