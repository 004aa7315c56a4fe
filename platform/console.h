// The console the command line writes to (GetConsoleMode and GetConsoleScreenBufferInfo on the
// standard handles): whether progress may redraw one line in place and how wide it is, and
// whether stdout is read by a person, so control characters in values are shown escaped.
// Results: false / 0 when the stream is a file, a pipe, or its width is unknown.
// Thread rule: safe from any thread.
#pragma once

namespace platform {

// True when standard error is a terminal (a console window).
bool stderrIsTerminal();
// True when standard output is one.
bool stdoutIsTerminal();
// The terminal's width in characters; 0 when it is not a terminal or will not say.
int stderrColumns();
// True when standard output is a terminal.
bool stdoutIsTerminal();

}  // namespace platform
