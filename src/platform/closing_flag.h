#pragma once

namespace kestrum {

// The process-wide flag the main window raises when the user closes it; the connection
// search and the capture give up as if cancelled once it is set. Any thread may read it.
class ClosingFlag {
public:
    static bool IsSet();
    static void Set(bool closing = true);
};

}  // namespace kestrum
