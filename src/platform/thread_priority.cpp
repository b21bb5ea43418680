#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kestrum {

namespace {
constexpr int kLineThreadNice = -5;
}

void RaiseThreadPriority()
{
    // On Linux a thread's nice value is its own: PRIO_PROCESS with the thread's id.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, thread, kLineThreadNice);
}

} // namespace kestrum
