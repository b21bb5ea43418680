#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/c_event.h"

namespace kestrum {

class CPort;

// The thread that waits for line events on a port and moves received bytes into the
// port's receive buffer. Never killed: it is stopped by its stop flag and event together
// with a release of the port's event wait.
class CReceiveWorker {
public:
    static constexpr uint32_t kReadBlockSize = 4096;

    // Empties the port's receive buffer.
    explicit CReceiveWorker(CPort& port);
    ~CReceiveWorker();
    CReceiveWorker(const CReceiveWorker&) = delete;
    CReceiveWorker& operator=(const CReceiveWorker&) = delete;

    // Starts the thread (once) and signals its start event.
    void Start();
    // Sets the stop flag and signals the stop event.
    void RequestStop();
    bool Exited() const { return exited_; }
    // Waits for the thread to end; the caller must have released the port's event wait.
    void Join();

private:
    void Run();
    void ReadAll();

    std::atomic<bool> stopFlag_{false};
    CPort& port_;
    uint8_t block_[kReadBlockSize + 1] = {};
    uint32_t lastCount_ = 0;
    std::atomic<bool> exited_{true};
    CEvent startEvent_{CEvent::ResetMode::Auto};
    CEvent stopEvent_{CEvent::ResetMode::Auto};
    std::thread thread_;
};

} // namespace kestrum
