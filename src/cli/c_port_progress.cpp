#include "cli/c_port_progress.h"

#include <algorithm>

#include "platform/tick_count.h"

namespace kestrum {

void CPortProgress::NoteStatus(const std::string& text)
{
    std::lock_guard lock(mutex_);
    if (text.empty() || text == lastStatus_)
        return;
    lastStatus_ = text;
    pending_.push_back(text);
}

void CPortProgress::SetRange(int steps)
{
    end_ = steps > 0 ? static_cast<uint32_t>(steps) : 0;
    position_ = 0;
}

void CPortProgress::Step()
{
    ++position_;
}

void CPortProgress::SetProgress(uint32_t position, uint32_t end)
{
    end_ = end;
    position_ = position;
}

void CPortProgress::ShowCountdown(int milliseconds)
{
    countdownStart_ = GetTickCount();
    countdownMs_ = milliseconds;
}

void CPortProgress::HideCountdown()
{
    countdownMs_ = 0;
}

void CPortProgress::NoteResult(const std::string& text)
{
    std::lock_guard lock(mutex_);
    result_ = text;
}

std::vector<std::string> CPortProgress::TakeStatusTexts()
{
    std::vector<std::string> texts;
    std::lock_guard lock(mutex_);
    texts.swap(pending_);
    return texts;
}

int CPortProgress::Percent() const
{
    const uint32_t end = end_;
    if (end == 0)
        return -1;
    const uint32_t position = std::min<uint32_t>(position_, end);
    return static_cast<int>(uint64_t(position) * 100 / end);
}

int CPortProgress::RemainingSeconds() const
{
    const int total = countdownMs_;
    if (total <= 0)
        return -1;
    const int elapsed = static_cast<int>(GetTickCount() - countdownStart_);
    const int remaining = total / 1000 - elapsed / 1000;
    return remaining < 0 ? -1 : remaining;
}

std::string CPortProgress::LastStatus() const
{
    std::lock_guard lock(mutex_);
    return lastStatus_;
}

std::string CPortProgress::Result() const
{
    std::lock_guard lock(mutex_);
    return result_;
}

std::string CPortProgress::CountdownText(int remaining)
{
    return "Please power cycle your device now to allow loader to capture it. Time remaining: " +
           std::to_string(remaining) + " sec";
}

} // namespace kestrum
