#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kestrum {

// What one port's work has to show: its status texts in order, its progress and, for
// power-on capture, the power-cycle prompt's countdown; and, once it has ended, its
// result. Any thread may note; the display takes and reads on the main thread.
class CPortProgress {
public:
    void NoteStatus(const std::string& text);
    void SetRange(int steps);
    void Step();
    void SetProgress(uint32_t position, uint32_t end);
    void ShowCountdown(int milliseconds);
    void HideCountdown();
    void NoteResult(const std::string& text);

    // The status texts noted since the last call.
    std::vector<std::string> TakeStatusTexts();
    // 0..100; -1 while there is no range.
    int Percent() const;
    // Whole seconds left of the power-cycle prompt; -1 when none is shown.
    int RemainingSeconds() const;
    // The latest status text.
    std::string LastStatus() const;
    // Empty while the work runs.
    std::string Result() const;

    // The prompt the Capturing dialog shows.
    static std::string CountdownText(int remaining);

private:
    mutable std::mutex mutex_;
    std::vector<std::string> pending_;
    std::string lastStatus_;
    std::string result_;
    std::atomic<uint32_t> position_{0};
    std::atomic<uint32_t> end_{0};
    std::atomic<int> countdownMs_{0};
    std::atomic<uint32_t> countdownStart_{0};
};

} // namespace kestrum
