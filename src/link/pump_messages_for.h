#pragma once

namespace kestrum {

// Returns after ms milliseconds; until then sleeps in 50 ms steps and, between steps,
// dispatches the calling thread's pending messages so a GUI stays responsive.
void PumpMessagesFor(int ms);

} // namespace kestrum
