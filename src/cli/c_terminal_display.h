#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/c_port_progress.h"

namespace kestrum {

// What kestrum-cli shows on stderr while it works: each port's status texts, its
// progress and, for power-on capture, the power-cycle prompt with its countdown.
//
// One port: its texts stand as they are; on a terminal the bar or countdown redraws one
// line. Several ports: every line starts with the port's name; on a terminal a block of
// one line per port (bar, countdown, latest text or result) is redrawn below the texts.
// Otherwise (output to a file or pipe) every text is a plain line and each port's
// progress is shown in tenths.
//
// Ports note from any thread (CPortProgress); Refresh draws, on the main thread only.
class CTerminalDisplay {
public:
    // No names: one port.
    CTerminalDisplay(std::FILE* out, bool terminal, const std::vector<std::string>& portNames = {});

    size_t PortCount() const { return ports_.size(); }
    CPortProgress& Port(size_t index) { return ports_[index]->progress; }

    // The first port's progress, for work on one port.
    void NoteStatus(const std::string& text) { Port(0).NoteStatus(text); }
    void SetRange(int steps) { Port(0).SetRange(steps); }
    void Step() { Port(0).Step(); }
    void SetProgress(uint32_t position, uint32_t end) { Port(0).SetProgress(position, end); }
    void ShowCountdown(int milliseconds) { Port(0).ShowCountdown(milliseconds); }
    void HideCountdown() { Port(0).HideCountdown(); }

    // A line about the program rather than a port (the wire trace stopped); any thread.
    void NoteProgramLine(const std::string& text);

    void Refresh();
    // Ends the redrawn lines so the next output starts clean.
    void Finish();

private:
    struct PortView {
        std::string name;
        CPortProgress progress;
        int lastTenth = -1;
        int lastCountdown = -1;
    };

    bool Several() const { return ports_.size() > 1; }
    std::vector<std::string> TakeStatusLines();
    std::string BlockLine(PortView& port) const;
    void RedrawBlock(const std::vector<std::string>& statusLines);
    void PrintPlainProgress(PortView& port);
    static std::string Bar(int percent);

    std::FILE* out_;
    const bool terminal_;
    std::vector<std::unique_ptr<PortView>> ports_;
    size_t nameWidth_ = 0;
    std::vector<std::string> drawn_; // the block as it stands on the terminal
    std::mutex programMutex_;
    std::vector<std::string> programLines_;
};

} // namespace kestrum
