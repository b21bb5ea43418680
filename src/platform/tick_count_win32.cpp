#include "platform/tick_count.h"

#include <chrono>

#include <windows.h>
#include <timeapi.h>

namespace kestrum {

// The steady clock rests on the performance counter, to the millisecond; the system's
// GetTickCount moves in steps of about 16 ms, too coarse for the waits between bytes.
uint32_t GetTickCount()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Windows sleeps in steps of its timer, about 16 ms unless a program asks for finer ones;
// the short pauses of a line (a few ms between control-line steps) need 1 ms.
void SleepMs(int ms)
{
    static const bool fineTimer = ::timeBeginPeriod(1) == TIMERR_NOERROR;
    (void)fineTimer;
    if (ms > 0)
        ::Sleep(static_cast<DWORD>(ms));
}

} // namespace kestrum
