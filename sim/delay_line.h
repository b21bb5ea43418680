#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrum {

// One direction of a slow network: bytes pushed in come out, in order, a fixed time
// later, handed to the delivery function on a thread of the line's own. Bytes that are
// due together go out in one delivery. Stop (or destruction) drops what is not yet due.
class DelayLine {
public:
    using Deliver = std::function<void(const std::vector<uint8_t>& bytes)>;

    DelayLine(std::chrono::microseconds delay, Deliver deliver);
    ~DelayLine();
    DelayLine(const DelayLine&) = delete;
    DelayLine& operator=(const DelayLine&) = delete;

    void Push(const uint8_t* data, size_t count);
    // Ends the thread; a delivery under way is finished first. Never call from Deliver.
    void Stop();

private:
    struct Chunk {
        std::chrono::steady_clock::time_point due;
        std::vector<uint8_t> bytes;
    };

    void Run();

    const std::chrono::microseconds delay_;
    const Deliver deliver_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Chunk> chunks_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace kestrum
