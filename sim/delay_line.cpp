#include "sim/delay_line.h"

namespace kestrum {

DelayLine::DelayLine(std::chrono::microseconds delay, Deliver deliver)
    : delay_(delay), deliver_(std::move(deliver)), thread_([this] { Run(); })
{
}

DelayLine::~DelayLine()
{
    Stop();
}

void DelayLine::Push(const uint8_t* data, size_t count)
{
    if (count == 0)
        return;
    std::lock_guard lock(mutex_);
    const bool wasEmpty = chunks_.empty();
    chunks_.push_back(
        Chunk{std::chrono::steady_clock::now() + delay_, std::vector<uint8_t>(data, data + count)});
    if (wasEmpty)
        changed_.notify_one();
}

void DelayLine::Stop()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

void DelayLine::Run()
{
    std::unique_lock lock(mutex_);
    std::vector<uint8_t> due;
    while (!stop_) {
        if (chunks_.empty()) {
            changed_.wait(lock, [this] { return stop_ || !chunks_.empty(); });
            continue;
        }
        if (changed_.wait_until(lock, chunks_.front().due, [this] { return stop_; }))
            break;
        const auto now = std::chrono::steady_clock::now();
        due.clear();
        while (!chunks_.empty() && chunks_.front().due <= now) {
            due.insert(due.end(), chunks_.front().bytes.begin(), chunks_.front().bytes.end());
            chunks_.pop_front();
        }
        if (due.empty())
            continue;
        lock.unlock();
        deliver_(due);
        lock.lock();
    }
}

} // namespace kestrum
