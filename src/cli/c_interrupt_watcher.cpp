#include "cli/c_interrupt_watcher.h"

#include <csignal>
#include <ctime>
#include <pthread.h>

namespace kestrum {

namespace {

sigset_t CancelSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

CInterruptWatcher::CInterruptWatcher(std::function<void()> onInterrupt) : onInterrupt_(std::move(onInterrupt))
{
    const sigset_t set = CancelSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] { Watch(); });
}

CInterruptWatcher::~CInterruptWatcher()
{
    stop_ = true;
    thread_.join();
    const sigset_t set = CancelSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

// Waits in short slices so the destructor never waits long for the thread.
void CInterruptWatcher::Watch()
{
    const sigset_t set = CancelSignals();
    const timespec slice{0, 100 * 1000 * 1000};
    while (!stop_) {
        if (sigtimedwait(&set, nullptr, &slice) > 0) {
            interrupted_ = true;
            if (onInterrupt_)
                onInterrupt_();
        }
    }
}

}  // namespace kestrum
