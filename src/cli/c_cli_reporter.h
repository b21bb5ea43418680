#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/c_terminal_display.h"
#include "link/c_status_channel.h"

namespace kestrum {

// The end of every status chain in kestrum-cli: one channel per port whose texts, with
// the progress and the capture prompt, reach the terminal display. While it exists it
// owns the program's message hooks and the wire trace's notice; every status post takes
// the texts of all channels, in order, and the main thread redraws whenever a wait
// dispatches messages.
class CCliReporter {
public:
    // No names: one port, whose texts stand alone; otherwise one channel per named port.
    explicit CCliReporter(std::FILE* err, const std::vector<std::string>& portNames = {});
    ~CCliReporter();
    CCliReporter(const CCliReporter&) = delete;
    CCliReporter& operator=(const CCliReporter&) = delete;

    CStatusChannel& Channel(size_t port = 0) { return *channels_[port]; }
    CTerminalDisplay& Display() { return display_; }
    // Takes the latest texts and redraws; main thread only.
    void Refresh();

private:
    void TakeStatus();

    std::vector<std::unique_ptr<CStatusChannel>> channels_;
    CTerminalDisplay display_;
    const std::thread::id mainThread_;
};

} // namespace kestrum
