#include "link/line_error_table.h"

#include <mutex>

#include "platform/c_event.h"

namespace kestrum {

namespace {

struct LineErrorKind {
    uint32_t mask;
    const char* text;
};

constexpr int kKindCount = 7;

// Report order.
constexpr LineErrorKind kKinds[kKindCount] = {
    {CE_BREAK, "Break detected"},
    {CE_FRAME, "Framing error"},
    {CE_IOE, "I/O error"},
    {CE_OVERRUN, "Serial overrun"},
    {CE_RXOVER, "Incoming buffer overflow"},
    {CE_RXPARITY, "Parity error"},
    {CE_TXFULL, "Outgoing buffer full"},
};

std::mutex tableMutex;
int32_t kindCounts[kKindCount] = {};

CEvent& NewPortEvent()
{
    static CEvent event(CEvent::ResetMode::Auto);
    return event;
}

void AppendCount(std::string& text, int32_t count)
{
    text += " (" + std::to_string(count) + ")";
}

} // namespace

void CLineErrorTable::SignalNewPort()
{
    NewPortEvent().Set();
}

std::string CLineErrorTable::Count(uint32_t flags, LineErrorPortCounts& port, bool& portRestarted)
{
    std::lock_guard lock(tableMutex);
    portRestarted = NewPortEvent().Test();
    if (portRestarted) {
        for (int32_t& count : kindCounts)
            count = 0;
        port = LineErrorPortCounts{};
    }
    std::string text;
    for (int kind = 0; kind < kKindCount; ++kind) {
        if (!(flags & kKinds[kind].mask))
            continue;
        if (!text.empty())
            text += ",";
        text += kKinds[kind].text;
        ++port.total;
        AppendCount(text, ++kindCounts[kind]);
    }
    if (text.empty()) {
        text = "Serial overruns";
        ++port.total;
        AppendCount(text, ++port.overruns);
    }
    return text;
}

int32_t CLineErrorTable::KindCount(int kind)
{
    std::lock_guard lock(tableMutex);
    return kind >= 0 && kind < kKindCount ? kindCounts[kind] : 0;
}

} // namespace kestrum
