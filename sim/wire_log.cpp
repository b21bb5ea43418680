#include "sim/wire_log.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace kestrum {

namespace {

// How far back a late event may still land: transports hand bytes over within a few
// milliseconds of their time.
constexpr SimTime kReorderWindow = SimMs(1000);

const char* KindWord(WireEvent::Kind kind)
{
    switch (kind) {
    case WireEvent::Kind::Open:
        return "open";
    case WireEvent::Kind::Close:
        return "close";
    case WireEvent::Kind::FromPc:
        return "pc";
    case WireEvent::Kind::ToPc:
        return "device";
    case WireEvent::Kind::Rate:
        return "rate";
    case WireEvent::Kind::Dtr:
        return "dtr";
    case WireEvent::Kind::Rts:
        return "rts";
    case WireEvent::Kind::Break:
        return "break";
    }
    return "?";
}

bool IsByte(WireEvent::Kind kind)
{
    return kind == WireEvent::Kind::FromPc || kind == WireEvent::Kind::ToPc;
}

} // namespace

void WireLog::Record(const WireEvent& event)
{
    // Usually the newest; otherwise after everything at or before its time.
    auto place = events_.end();
    while (place != events_.begin() && std::prev(place)->at > event.at)
        --place;
    events_.insert(place, event);
    if (!sink_)
        return;
    while (!events_.empty() && events_.back().at - events_.front().at > kReorderWindow) {
        sink_(events_.front());
        events_.pop_front();
    }
}

void WireLog::StreamTo(std::function<void(const WireEvent&)> sink)
{
    sink_ = std::move(sink);
}

void WireLog::Flush()
{
    if (!sink_)
        return;
    for (const WireEvent& event : events_)
        sink_(event);
    events_.clear();
}

std::string WireLog::Format(const WireEvent& event, SimTime origin)
{
    const int64_t us = (event.at - origin).count();
    char text[96];
    int n = std::snprintf(text, sizeof text, "%s%" PRId64 ".%06" PRId64 " %s", us < 0 ? "-" : "",
                          (us < 0 ? -us : us) / 1000000, (us < 0 ? -us : us) % 1000000, KindWord(event.kind));
    const auto room = [&] { return sizeof text - static_cast<size_t>(n); };
    if (event.kind == WireEvent::Kind::Open) {
        std::snprintf(text + n, room(), " dtr=%u rts=%u break=%u", event.value & 1u, (event.value >> 1) & 1u,
                      (event.value >> 2) & 1u);
    } else if (IsByte(event.kind)) {
        n += std::snprintf(text + n, room(), " %02X", event.value);
        if (event.value >= 0x20 && event.value < 0x7F)
            std::snprintf(text + n, room(), " '%c'", static_cast<char>(event.value));
    } else if (event.kind != WireEvent::Kind::Close) {
        std::snprintf(text + n, room(), " %u", event.value);
    }
    return text;
}

namespace wire {

std::string Bytes(const std::vector<WireEvent>& events, WireEvent::Kind direction, SimTime from)
{
    std::string bytes;
    for (const WireEvent& event : events)
        if (event.kind == direction && event.at >= from)
            bytes.push_back(static_cast<char>(event.value));
    return bytes;
}

std::vector<SimTime> Times(const std::vector<WireEvent>& events, WireEvent::Kind kind, int64_t value)
{
    std::vector<SimTime> times;
    for (const WireEvent& event : events)
        if (event.kind == kind && (value < 0 || event.value == value))
            times.push_back(event.at);
    return times;
}

SimTime First(const std::vector<WireEvent>& events, WireEvent::Kind kind, uint32_t value, SimTime from)
{
    for (const WireEvent& event : events)
        if (event.kind == kind && event.value == value && event.at >= from)
            return event.at;
    return kSimNever;
}

std::vector<uint32_t> Values(const std::vector<WireEvent>& events, WireEvent::Kind kind)
{
    std::vector<uint32_t> values;
    for (const WireEvent& event : events)
        if (event.kind == kind)
            values.push_back(event.value);
    return values;
}

std::vector<size_t> Timeline::Find(const std::string& text) const
{
    std::vector<size_t> found;
    for (size_t pos = text.empty() ? std::string::npos : bytes.find(text); pos != std::string::npos;
         pos = bytes.find(text, pos + text.size()))
        found.push_back(pos);
    return found;
}

Timeline Sent(const std::vector<WireEvent>& events, WireEvent::Kind direction)
{
    Timeline line;
    for (const WireEvent& event : events) {
        if (event.kind == direction) {
            line.bytes.push_back(static_cast<char>(event.value));
            line.at.push_back(event.at);
        }
    }
    return line;
}

uint32_t RateAt(const std::vector<WireEvent>& events, SimTime t)
{
    uint32_t rate = 0;
    for (const WireEvent& event : events) {
        if (event.at > t)
            break;
        if (event.kind == WireEvent::Kind::Rate)
            rate = event.value;
    }
    return rate;
}

} // namespace wire

} // namespace kestrum
