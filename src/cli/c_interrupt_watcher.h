#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/interrupt_signals.h"

namespace kestrum {

// Turns Ctrl-C (and SIGTERM, or on Windows Ctrl-Break and closing the console) into a
// Cancel. Construct it before any other thread (CInterruptSignals says why); it takes the
// requests on a thread of its own, where the cancel action may safely signal events.
//
// A stop must end the program even when the work is stuck in the kernel (a device that
// never answers an ioctl): if the program is still running giveUpAfterMs after the first
// interrupt, or at a second one, the watcher writes its note to standard error and its
// text to standard output and ends the process with its status, without running
// destructors that would wait for the stuck work.
struct InterruptGiveUp {
    static constexpr int kAfterMs = 5000;
    std::string text;  // a line for standard output, or empty
    int status = 2;
    int afterMs = kAfterMs;
    std::string note = "kestrum-cli: the work did not stop in time; ending without it\n";
};

class CInterruptWatcher {
public:
    using GiveUp = InterruptGiveUp;

    explicit CInterruptWatcher(std::function<void()> onInterrupt, GiveUp giveUp = {});
    ~CInterruptWatcher();
    CInterruptWatcher(const CInterruptWatcher&) = delete;
    CInterruptWatcher& operator=(const CInterruptWatcher&) = delete;

    bool Interrupted() const { return interrupted_; }

private:
    void Watch();
    [[noreturn]] void EndProcess() const;

    CInterruptSignals signals_; // before the thread that waits on it
    std::function<void()> onInterrupt_;
    const GiveUp giveUp_;
    std::atomic<bool> interrupted_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace kestrum
