#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace kestrum {

// What kestrum-cli shows on stderr while it works: each status text, a progress bar and,
// for power-on capture, the power-cycle prompt with its countdown. On a terminal the bar
// and countdown redraw one line; otherwise every status text is a plain line and the
// progress is shown in tenths.
//
// Status texts and progress steps may come from any thread; Refresh draws, on the main
// thread only.
class CTerminalDisplay {
public:
    explicit CTerminalDisplay(std::FILE* out, bool terminal);

    void NoteStatus(const std::string& text);
    void SetRange(int steps);
    void Step();
    void SetProgress(uint32_t position, uint32_t end);
    void ShowCountdown(int milliseconds);
    void HideCountdown();

    void Refresh();
    // Ends the redrawn line so the next output starts clean.
    void Finish();

private:
    void PrintStatusLines(const std::vector<std::string>& texts);
    void DrawLine();
    int RemainingSeconds() const;
    static std::string CountdownText(int remaining);
    int Percent() const;

    std::FILE* out_;
    const bool terminal_;
    std::mutex mutex_;
    std::vector<std::string> pending_;
    std::string lastStatus_;
    std::atomic<uint32_t> position_{0};
    std::atomic<uint32_t> end_{0};
    std::atomic<int> countdownMs_{0};
    std::atomic<uint32_t> countdownStart_{0};
    int lastTenth_ = -1;
    int lastCountdown_ = -1;
    bool lineOpen_ = false;
};

}  // namespace kestrum
