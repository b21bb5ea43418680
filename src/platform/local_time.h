#pragma once

#include <ctime>

namespace kestrum {

// The wall clock in the user's time zone, to the millisecond: for time stamps a person
// reads (the line-error log, the wire trace's heading, the status bar's clock).
struct LocalClockTime {
    std::tm fields{};     // tm_year, tm_mon, tm_mday, tm_hour, tm_min, tm_sec, ...
    int milliseconds = 0; // 0..999
};

LocalClockTime LocalTimeNow();

// The local calendar fields of a time_t.
std::tm LocalTimeOf(std::time_t seconds);

} // namespace kestrum
