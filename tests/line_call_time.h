#pragma once

#include <chrono>

namespace kestrum::test {

// Holds the caller for the time a slow adapter's line call takes. Spun, not slept: a
// sleep shorter than the system's tick (1 ms on Windows) ends at once there.
inline void SpendLineCallTime(std::chrono::microseconds time)
{
    const auto until = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < until) {
    }
}

}  // namespace kestrum::test
