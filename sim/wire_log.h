#pragma once

#include "sim/sim_time.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kestrum {

// One thing that happened on the cable, as the device's end of it saw it.
struct WireEvent {
    enum class Kind : uint8_t {
        Open,   // a port was opened; value: DTR 1, RTS 2, break 4 as they were then
        Close,  // the port was closed (its lines drop with it)
        FromPc, // a byte the PC sent, as sent; value: the byte
        ToPc,   // a byte the device sent, as sent; value: the byte
        Rate,   // the PC's line rate changed; value: bits per second
        Dtr,    // value: 1 raised, 0 dropped
        Rts,
        Break,
    };

    SimTime at{0}; // a byte's time is when its last bit has crossed
    Kind kind = Kind::FromPc;
    uint32_t value = 0;

    bool operator==(const WireEvent&) const = default;
};

// Everything that crossed the cable, in time order. A device model keeps one; tests read it
// in-process, kestrum-sim writes it to a file.
//
// Events are recorded as transports hand them over, which is not quite time order: a byte
// the device sent may be picked up after a later byte from the PC. Each event is put in its
// place by time. A log that streams to a sink holds back the last second for that reason and
// passes on everything older; Flush passes on the rest.
class WireLog {
public:
    void Record(const WireEvent& event);
    const std::deque<WireEvent>& Events() const { return events_; }
    void Clear() { events_.clear(); }

    // From now on events go to sink instead of being kept (all but the last second).
    void StreamTo(std::function<void(const WireEvent&)> sink);
    void Flush();

    // One line of text, time in seconds from origin: "0.150000 dtr 0", "0.151234 pc 23 '#'".
    static std::string Format(const WireEvent& event, SimTime origin);

private:
    std::deque<WireEvent> events_;
    std::function<void(const WireEvent&)> sink_;
};

// What a test reads out of a log.
namespace wire {

// The bytes of one direction (FromPc or ToPc) from time from on, as text.
std::string Bytes(const std::vector<WireEvent>& events, WireEvent::Kind direction,
                  SimTime from = SimTime::min());
// The times of the events of a kind (with a value, when one is given).
std::vector<SimTime> Times(const std::vector<WireEvent>& events, WireEvent::Kind kind, int64_t value = -1);
// The first event of a kind with the value at or after from; kSimNever when there is none.
SimTime First(const std::vector<WireEvent>& events, WireEvent::Kind kind, uint32_t value,
              SimTime from = SimTime::min());
// The values of the events of a kind, in order (rates, line states).
std::vector<uint32_t> Values(const std::vector<WireEvent>& events, WireEvent::Kind kind);
// One direction's bytes, each with its time.
struct Timeline {
    std::string bytes;
    std::vector<SimTime> at;

    // Where text begins, each time it went out.
    std::vector<size_t> Find(const std::string& text) const;
    // The pause between byte i and the byte before it.
    SimTime GapBefore(size_t i) const { return i == 0 || i >= at.size() ? SimTime(0) : at[i] - at[i - 1]; }
};
Timeline Sent(const std::vector<WireEvent>& events, WireEvent::Kind direction);
// The PC's rate at time t (0 before the first rate event).
uint32_t RateAt(const std::vector<WireEvent>& events, SimTime t);

} // namespace wire

} // namespace kestrum
