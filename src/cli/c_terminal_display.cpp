#include "cli/c_terminal_display.h"

#include "platform/tick_count.h"

namespace kestrum {

namespace {
constexpr int kBarWidth = 30;
}

CTerminalDisplay::CTerminalDisplay(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

void CTerminalDisplay::NoteStatus(const std::string& text)
{
    std::lock_guard lock(mutex_);
    if (text.empty() || text == lastStatus_)
        return;
    lastStatus_ = text;
    pending_.push_back(text);
}

void CTerminalDisplay::SetRange(int steps)
{
    end_ = steps > 0 ? static_cast<uint32_t>(steps) : 0;
    position_ = 0;
}

void CTerminalDisplay::Step()
{
    ++position_;
}

void CTerminalDisplay::SetProgress(uint32_t position, uint32_t end)
{
    end_ = end;
    position_ = position;
}

void CTerminalDisplay::ShowCountdown(int milliseconds)
{
    countdownStart_ = GetTickCount();
    countdownMs_ = milliseconds;
}

void CTerminalDisplay::HideCountdown()
{
    countdownMs_ = 0;
}

int CTerminalDisplay::Percent() const
{
    const uint32_t end = end_;
    if (end == 0)
        return -1;
    const uint32_t position = std::min<uint32_t>(position_, end);
    return static_cast<int>(position * 100 / end);
}

// Whole seconds left of the power-cycle prompt; -1 when none is shown.
int CTerminalDisplay::RemainingSeconds() const
{
    const int total = countdownMs_;
    if (total <= 0)
        return -1;
    const int elapsed = static_cast<int>(GetTickCount() - countdownStart_);
    const int remaining = total / 1000 - elapsed / 1000;
    return remaining < 0 ? -1 : remaining;
}

// The prompt the Capturing dialog shows.
std::string CTerminalDisplay::CountdownText(int remaining)
{
    return "Please power cycle your device now to allow loader to capture it. Time remaining: " +
           std::to_string(remaining) + " sec";
}

void CTerminalDisplay::PrintStatusLines(const std::vector<std::string>& texts)
{
    for (const std::string& text : texts) {
        if (lineOpen_)
            std::fputs("\r\033[K", out_);
        lineOpen_ = false;
        std::fprintf(out_, "%s\n", text.c_str());
    }
}

void CTerminalDisplay::DrawLine()
{
    const int percent = Percent();
    const int remaining = RemainingSeconds();
    std::string line;
    if (remaining >= 0)
        line = CountdownText(remaining);
    else if (percent >= 0) {
        const int filled = percent * kBarWidth / 100;
        line = "[" + std::string(static_cast<size_t>(filled), '#') +
               std::string(static_cast<size_t>(kBarWidth - filled), ' ') + "] " + std::to_string(percent) + "%";
    }
    if (line.empty())
        return;
    std::fprintf(out_, "\r\033[K%s", line.c_str());
    lineOpen_ = true;
}

void CTerminalDisplay::Refresh()
{
    std::vector<std::string> texts;
    {
        std::lock_guard lock(mutex_);
        texts.swap(pending_);
    }
    PrintStatusLines(texts);
    if (terminal_) {
        DrawLine();
    } else {
        // Plain output: the countdown once a second and the progress in tenths.
        const int remaining = RemainingSeconds();
        if (remaining >= 0 && remaining != lastCountdown_)
            std::fprintf(out_, "%s\n", CountdownText(remaining).c_str());
        lastCountdown_ = remaining;
        const int percent = Percent();
        if (percent >= 0 && percent / 10 != lastTenth_) {
            lastTenth_ = percent / 10;
            std::fprintf(out_, "Progress: %d%%\n", percent);
        }
    }
    std::fflush(out_);
}

void CTerminalDisplay::Finish()
{
    Refresh();
    if (lineOpen_)
        std::fputs("\n", out_);
    lineOpen_ = false;
    std::fflush(out_);
}

}  // namespace kestrum
