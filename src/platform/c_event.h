#pragma once

#include <condition_variable>
#include <mutex>

namespace kestrum {

// A signalled/unsignalled flag that threads can wait on, with the two reset rules the
// program relies on: an auto-reset event releases one waiter and clears itself, a
// manual-reset event stays signalled until Reset.
class CEvent {
public:
    enum class ResetMode { Auto, Manual };

    explicit CEvent(ResetMode rule = ResetMode::Auto, bool signalled = false);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();

    // Looks without waiting; consumes the signal of an auto-reset event.
    bool Test();

    // Waits at most timeoutMs (negative: without limit); true when signalled.
    bool Wait(int timeoutMs);

private:
    bool TakeLocked();

    std::mutex mutex_;
    std::condition_variable changed_;
    const bool autoReset_;
    bool signalled_;
};

}  // namespace kestrum
