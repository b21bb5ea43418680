#pragma once

#include <cstdint>

namespace kestrum {

// Milliseconds of a steady clock, wrapping at 2^32 like the platform tick count the
// program's timing code was written for. Compare ticks by unsigned difference only.
uint32_t GetTickCount();

// Sleeps the calling thread for ms milliseconds (nothing for ms <= 0).
void SleepMs(int ms);

}  // namespace kestrum
