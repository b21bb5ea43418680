#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace kestrum {

// Turns Ctrl-C (SIGINT) and SIGTERM into a Cancel. It blocks both signals in every thread
// the process starts afterwards, so construct it before any other thread, and takes them
// on a thread of its own, where the cancel action may safely signal events.
class CInterruptWatcher {
public:
    explicit CInterruptWatcher(std::function<void()> onInterrupt);
    ~CInterruptWatcher();
    CInterruptWatcher(const CInterruptWatcher&) = delete;
    CInterruptWatcher& operator=(const CInterruptWatcher&) = delete;

    bool Interrupted() const { return interrupted_; }

private:
    void Watch();

    std::function<void()> onInterrupt_;
    std::atomic<bool> interrupted_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace kestrum
