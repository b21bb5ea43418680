#pragma once

#include <chrono>
#include <cstdint>

namespace kestrum {

// Time as the simulated devices see it: microseconds of the steady clock. Models never
// read a clock themselves; transports (or tests) hand them the time, so a test can drive
// a model with made-up times and get the same answers every run.
using SimTime = std::chrono::microseconds;

inline constexpr SimTime kSimNever = SimTime::max();

// The steady clock as SimTime, for transports.
SimTime SimNow();

constexpr SimTime SimMs(int64_t ms)
{
    return std::chrono::milliseconds(ms);
}

// Time one character takes on the line at the given rate: start bit, 8 data bits, stop bit.
constexpr SimTime ByteTime(uint32_t rate)
{
    return rate == 0 ? SimTime(0) : SimTime((10'000'000LL + rate - 1) / rate);
}

}  // namespace kestrum
