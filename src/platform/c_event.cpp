#include "platform/c_event.h"

#include <chrono>

namespace kestrum {

CEvent::CEvent(ResetMode rule, bool signalled) : autoReset_(rule == ResetMode::Auto), signalled_(signalled) {}

void CEvent::Set()
{
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    if (autoReset_)
        changed_.notify_one();
    else
        changed_.notify_all();
}

void CEvent::Reset()
{
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool CEvent::TakeLocked()
{
    if (!signalled_)
        return false;
    if (autoReset_)
        signalled_ = false;
    return true;
}

bool CEvent::Test()
{
    std::lock_guard lock(mutex_);
    return TakeLocked();
}

bool CEvent::Wait(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    if (timeoutMs < 0)
        changed_.wait(lock, [this] { return signalled_; });
    else
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; });
    return TakeLocked();
}

}  // namespace kestrum
