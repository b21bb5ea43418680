#pragma once

namespace kestrum {

// Gives the calling thread an above-normal priority where the process may raise it (as
// root, or with the right to lower its nice value), and leaves it at normal otherwise.
// For the threads that wait on a serial line between its bytes: the sooner they run after
// a byte arrives, the sooner the line carries the next one.
void RaiseThreadPriority();

} // namespace kestrum
