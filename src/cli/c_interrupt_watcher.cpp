#include "cli/c_interrupt_watcher.h"

#include "platform/c_stopwatch.h"

namespace kestrum {

namespace {
// How long one look for a request waits, so the destructor never waits long for the thread.
constexpr int kLookMs = 100;
}  // namespace

CInterruptWatcher::CInterruptWatcher(std::function<void()> onInterrupt, GiveUp giveUp)
    : onInterrupt_(std::move(onInterrupt)), giveUp_(std::move(giveUp))
{
    thread_ = std::thread([this] { Watch(); });
}

CInterruptWatcher::~CInterruptWatcher()
{
    stop_ = true;
    thread_.join();
}

void CInterruptWatcher::Watch()
{
    CStopwatch sinceInterrupt;
    while (!stop_) {
        if (signals_.Wait(kLookMs)) {
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

void CInterruptWatcher::EndProcess() const
{
    CInterruptSignals::EndProcessNow(giveUp_.note.c_str(), giveUp_.text, giveUp_.status);
}

}  // namespace kestrum
