#include "link/pump_messages_for.h"

#include <algorithm>

#include "platform/c_stopwatch.h"
#include "platform/message_pump.h"
#include "platform/tick_count.h"

namespace kestrum {

namespace {
constexpr int kPumpStepMs = 50;
}

void PumpMessagesFor(int ms)
{
    CStopwatch clock;
    for (;;) {
        MessagePump::DispatchPending();
        const uint32_t elapsed = clock.Elapsed();
        if (ms <= 0 || elapsed >= static_cast<uint32_t>(ms))
            return;
        SleepMs(std::min(kPumpStepMs, ms - static_cast<int>(elapsed)));
    }
}

} // namespace kestrum
