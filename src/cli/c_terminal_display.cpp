#include "cli/c_terminal_display.h"

#include <algorithm>

namespace kestrum {

namespace {
constexpr int kBarWidth = 30;
}

CTerminalDisplay::CTerminalDisplay(std::FILE* out, bool terminal, const std::vector<std::string>& portNames)
    : out_(out), terminal_(terminal)
{
    for (const std::string& name : portNames) {
        ports_.push_back(std::make_unique<PortView>());
        ports_.back()->name = name;
        nameWidth_ = std::max(nameWidth_, name.size());
    }
    if (ports_.empty())
        ports_.push_back(std::make_unique<PortView>());
}

std::string CTerminalDisplay::Bar(int percent)
{
    const int filled = percent * kBarWidth / 100;
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(kBarWidth - filled), ' ') + "] " + std::to_string(percent) + "%";
}

void CTerminalDisplay::NoteProgramLine(const std::string& text)
{
    std::lock_guard lock(programMutex_);
    programLines_.push_back(text);
}

// Each text on a line of its own, after the port's name when there are several.
std::vector<std::string> CTerminalDisplay::TakeStatusLines()
{
    std::vector<std::string> lines;
    {
        std::lock_guard lock(programMutex_);
        lines.swap(programLines_);
    }
    for (const auto& port : ports_)
        for (const std::string& text : port->progress.TakeStatusTexts())
            lines.push_back(Several() ? port->name + ": " + text : text);
    return lines;
}

// A port's line of the redrawn block: the countdown, else its result once it has one,
// else its progress; with several ports, else its latest text, so every port keeps a line.
std::string CTerminalDisplay::BlockLine(PortView& port) const
{
    const CPortProgress& progress = port.progress;
    std::string shown;
    if (const int remaining = progress.RemainingSeconds(); remaining >= 0)
        shown = CPortProgress::CountdownText(remaining);
    else if (Several() && !progress.Result().empty())
        shown = progress.Result();
    else if (const int percent = progress.Percent(); percent >= 0)
        shown = Bar(percent);
    else if (Several())
        shown = progress.LastStatus();
    if (!Several())
        return shown;
    std::string name = port.name;
    name.resize(nameWidth_, ' ');
    return name + "  " + shown;
}

// Takes the block away (cursor to its first line, everything below cleared), writes the
// new texts where it stood, and draws it again below them; the last line stays open.
void CTerminalDisplay::RedrawBlock(const std::vector<std::string>& statusLines)
{
    std::vector<std::string> block;
    for (const auto& port : ports_)
        if (std::string line = BlockLine(*port); !line.empty())
            block.push_back(std::move(line));
    if (statusLines.empty() && block == drawn_)
        return;
    if (drawn_.size() > 1)
        std::fprintf(out_, "\033[%zuA", drawn_.size() - 1);
    if (!drawn_.empty())
        std::fputs("\r\033[J", out_);
    for (const std::string& line : statusLines)
        std::fprintf(out_, "%s\n", line.c_str());
    for (size_t i = 0; i < block.size(); ++i)
        std::fprintf(out_, i + 1 < block.size() ? "%s\n" : "%s", block[i].c_str());
    drawn_ = std::move(block);
}

// Plain output: the countdown once a second and the progress in tenths.
void CTerminalDisplay::PrintPlainProgress(PortView& port)
{
    const std::string prefix = Several() ? port.name + ": " : "";
    const int remaining = port.progress.RemainingSeconds();
    if (remaining >= 0 && remaining != port.lastCountdown)
        std::fprintf(out_, "%s%s\n", prefix.c_str(), CPortProgress::CountdownText(remaining).c_str());
    port.lastCountdown = remaining;
    const int percent = port.progress.Percent();
    if (percent >= 0 && percent / 10 != port.lastTenth) {
        port.lastTenth = percent / 10;
        std::fprintf(out_, "%sProgress: %d%%\n", prefix.c_str(), percent);
    }
}

void CTerminalDisplay::Refresh()
{
    const std::vector<std::string> statusLines = TakeStatusLines();
    if (terminal_) {
        RedrawBlock(statusLines);
    } else {
        for (const std::string& line : statusLines)
            std::fprintf(out_, "%s\n", line.c_str());
        for (const auto& port : ports_)
            PrintPlainProgress(*port);
    }
    std::fflush(out_);
}

void CTerminalDisplay::Finish()
{
    Refresh();
    if (!drawn_.empty())
        std::fputs("\n", out_);
    drawn_.clear();
    std::fflush(out_);
}

} // namespace kestrum
