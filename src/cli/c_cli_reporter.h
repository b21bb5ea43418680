#pragma once

#include <cstdio>
#include <thread>

#include "cli/c_terminal_display.h"
#include "link/c_status_channel.h"

namespace kestrum {

// The end of every status chain in kestrum-cli: a channel whose texts, with the progress
// and the capture prompt, reach the terminal display. While it exists it owns the
// program's message hooks; the main thread redraws whenever a wait dispatches messages.
class CCliReporter {
public:
    explicit CCliReporter(std::FILE* err);
    ~CCliReporter();
    CCliReporter(const CCliReporter&) = delete;
    CCliReporter& operator=(const CCliReporter&) = delete;

    CStatusChannel& Channel() { return channel_; }
    CTerminalDisplay& Display() { return display_; }
    // Takes the latest text and redraws; main thread only.
    void Refresh();

private:
    void TakeStatus();

    CStatusChannel channel_;
    CTerminalDisplay display_;
    const std::thread::id mainThread_;
};

}  // namespace kestrum
