#pragma once

#include <functional>

namespace kestrum {

// Tells a wait to give up early (cancel, closing program, closed port). May be empty.
using StopCheck = std::function<bool()>;

// Waits ms milliseconds in steps of at most stepMs, dispatching the calling thread's
// pending messages between steps so Cancel buttons work. Returns false as soon as stop
// says so, true when the whole time has passed.
bool WaitUnlessStopped(int ms, const StopCheck& stop, int stepMs = 50);

}  // namespace kestrum
