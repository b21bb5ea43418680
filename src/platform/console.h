#pragma once

#include <cstdio>

namespace kestrum {

// Whether the stream shows on a terminal that takes the cursor controls a redrawn line
// needs (ANSI: cursor up, erase). A Windows console is switched to them here; one that
// cannot take them (before Windows 10) counts as no terminal, so it gets plain lines.
bool IsControllableTerminal(std::FILE* stream);

// A console program's work goes on when its output cannot be written or its terminal
// hangs up (SIGPIPE, SIGHUP on POSIX systems; Windows sends neither): only a stop request
// should end a load half-way.
void KeepRunningWithoutOutput();

} // namespace kestrum
