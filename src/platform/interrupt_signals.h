#pragma once

#include <string>

namespace kestrum {

// The requests to stop that reach a console program: Ctrl-C everywhere, SIGTERM on
// POSIX systems, Ctrl-Break and the closing of the console window on Windows. While an
// object lives they are caught instead of ending the process, and one thread takes them
// with Wait. Construct it before any other thread starts: on POSIX systems the signals
// are blocked in every thread started afterwards. One at a time per process.
class CInterruptSignals {
public:
    CInterruptSignals();
    ~CInterruptSignals();
    CInterruptSignals(const CInterruptSignals&) = delete;
    CInterruptSignals& operator=(const CInterruptSignals&) = delete;

    // Waits at most ms milliseconds; true when a request came.
    bool Wait(int ms);

    // Keeps the requests from ever landing on the calling thread, one started before an
    // object of this class that must not be where they land (a writer that may be stuck
    // in the system, where the process's default would end it). Nothing to do on Windows,
    // where they come on a thread of their own.
    static void KeepFromThisThread();

    // Writes note to standard error and text (when not empty) with a line end to standard
    // output, then ends the process with status at once, running nothing else: work stuck
    // in the system may hold any lock, the standard library's included.
    [[noreturn]] static void EndProcessNow(const char* note, const std::string& text, int status);
};

} // namespace kestrum
