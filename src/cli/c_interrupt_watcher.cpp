#include "cli/c_interrupt_watcher.h"

#include <csignal>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

#include "platform/c_stopwatch.h"

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

CInterruptWatcher::CInterruptWatcher(std::function<void()> onInterrupt, GiveUp giveUp)
    : onInterrupt_(std::move(onInterrupt)), giveUp_(std::move(giveUp))
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
    CStopwatch sinceInterrupt;
    while (!stop_) {
        if (sigtimedwait(&set, nullptr, &slice) > 0) {
            if (interrupted_)
                EndProcess();
            interrupted_ = true;
            sinceInterrupt.Restart();
            if (onInterrupt_)
                onInterrupt_();
        }
        if (interrupted_ && !stop_ && sinceInterrupt.Elapsed() >= static_cast<uint32_t>(giveUp_.afterMs))
            EndProcess();
    }
}

// write(2) and _exit(2) only, no allocation: the stuck thread may hold any lock, the stdio
// ones included.
void CInterruptWatcher::EndProcess() const
{
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, giveUp_.note.data(), giveUp_.note.size());
    written = ::write(STDERR_FILENO, "\n", 1);
    if (!giveUp_.text.empty()) {
        written = ::write(STDOUT_FILENO, giveUp_.text.data(), giveUp_.text.size());
        written = ::write(STDOUT_FILENO, "\n", 1);
    }
    ::_exit(giveUp_.status);
}

}  // namespace kestrum
