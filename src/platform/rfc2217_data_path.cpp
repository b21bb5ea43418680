// The data path: what callers write and read, the waits on it, and the queues' sizes.
#include "platform/rfc2217_serial_device.h"

#include <algorithm>
#include <chrono>

#include "platform/rfc2217_serial_device_internals.h"

namespace kestrum {

using namespace rfc2217;

namespace {

// Data received and not read; beyond it bytes are lost as a driver's buffer overrun.
constexpr size_t kInputRoom = 1 << 20;

} // namespace

long Rfc2217SerialDevice::Write(const uint8_t* data, size_t count)
{
    std::lock_guard lock(mutex_);
    if (!socket_.IsOpen() || gone_)
        return -1;
    const size_t queued = QueuedBytesLocked();
    const size_t room = queued < kOutputRoom ? kOutputRoom - queued : 0;
    std::vector<uint8_t> encoded;
    size_t accepted = 0;
    // Each byte may go out doubled, so taking half the room always fits.
    accepted = std::min(count, room / 2);
    if (accepted == 0)
        return 0;
    Rfc2217TelnetCodec::AppendData(encoded, data, accepted);
    EnqueueLocked(true, encoded);
    dataUnconfirmed_ = true;
    return static_cast<long>(accepted);
}

long Rfc2217SerialDevice::Read(uint8_t* data, size_t room)
{
    std::lock_guard lock(mutex_);
    if (!socket_.IsOpen() || (input_.empty() && gone_))
        return -1;
    const size_t count = std::min(room, input_.size());
    std::copy_n(input_.begin(), count, data);
    input_.erase(input_.begin(), input_.begin() + static_cast<long>(count));
    return static_cast<long>(count);
}

int Rfc2217SerialDevice::ConditionsLocked(int request) const
{
    int bits = 0;
    if (!input_.empty())
        bits |= kReadable;
    if (QueuedBytesLocked() < kOutputRoom)
        bits |= kWritable;
    if (counts_.framing != countsSeen_.framing || counts_.parity != countsSeen_.parity ||
        counts_.overrun != countsSeen_.overrun || counts_.bufferOverrun != countsSeen_.bufferOverrun ||
        counts_.breaks != countsSeen_.breaks)
        bits |= kLineError;
    bits &= request;
    if (gone_)
        bits |= kGone;
    return bits;
}

int Rfc2217SerialDevice::Wait(int request, int timeoutMs)
{
    std::unique_lock lock(mutex_);
    auto ready = [&] { return (released_ && (request & kReleased)) || ConditionsLocked(request) != 0; };
    if (timeoutMs < 0)
        changed_.wait(lock, ready);
    else
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (released_ && (request & kReleased)) {
        released_ = false;
        return kReleased;
    }
    return ConditionsLocked(request);
}

void Rfc2217SerialDevice::Release()
{
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

long Rfc2217SerialDevice::InputQueued()
{
    std::lock_guard lock(mutex_);
    return !socket_.IsOpen() ? -1 : static_cast<long>(input_.size());
}

long Rfc2217SerialDevice::OutputQueued()
{
    std::lock_guard lock(mutex_);
    return !socket_.IsOpen() || gone_ ? -1 : static_cast<long>(queuedData_ + inFlightData_);
}

// Handed over is not yet gone: the socket and the server may hold far more than a line
// carries in the time a caller allows for it. So once everything is handed over, a
// question follows the data, and the data counts as sent when it is answered.
bool Rfc2217SerialDevice::Drain(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    const auto end = timeoutMs < 0 ? std::chrono::steady_clock::time_point::max()
                                   : std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!WaitFor(lock, timeoutMs, [this] { return queuedData_ + inFlightData_ == 0; }))
        return false;
    if (dataUnconfirmed_)
        QueueQuestionLocked(0);
    if (rateReplies_ >= confirmingAsk_)
        return true;
    if (ReadUntilAnswered(lock, confirmingAsk_, [&] { return std::min(end, AnswerDueLocked()); }))
        return true;
    if (!gone_ && !cancelSeen_ && std::chrono::steady_clock::now() >= AnswerDueLocked())
        MarkGoneLocked(NoAnswerTextLocked(confirmingAskedAt_));
    return false;
}

void Rfc2217SerialDevice::DiscardInput()
{
    std::lock_guard lock(mutex_);
    input_.clear();
}

void Rfc2217SerialDevice::DiscardOutput()
{
    std::lock_guard lock(mutex_);
    std::erase_if(queued_, [](const Segment& segment) { return segment.data; });
    queuedData_ = 0;
}

void Rfc2217SerialDevice::OnData(const uint8_t* data, size_t count)
{
    const size_t room = input_.size() < kInputRoom ? kInputRoom - input_.size() : 0;
    const size_t kept = std::min(room, count);
    input_.insert(input_.end(), data, data + kept);
    if (kept < count)
        ++counts_.bufferOverrun;
}

} // namespace kestrum
