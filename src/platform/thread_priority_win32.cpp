#include "platform/thread_priority.h"

#include <windows.h>

namespace kestrum {

// Any process may raise its own threads this far; no right is needed.
void RaiseThreadPriority()
{
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
}

} // namespace kestrum
