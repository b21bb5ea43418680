#include "protocol/link_wait.h"

#include <algorithm>

#include "platform/c_stopwatch.h"
#include "platform/message_pump.h"
#include "platform/tick_count.h"

namespace kestrum {

bool WaitUnlessStopped(int ms, const StopCheck& stop, int stepMs)
{
    const CStopwatch clock;
    const int step = std::max(1, stepMs);
    for (;;) {
        if (stop && stop())
            return false;
        const uint32_t elapsed = clock.Elapsed();
        if (ms <= 0 || elapsed >= static_cast<uint32_t>(ms))
            return true;
        SleepMs(std::min(step, ms - static_cast<int>(elapsed)));
        MessagePump::DispatchPending();
    }
}

}  // namespace kestrum
