// The socket side: the queue callers fill, and the I/O thread that sends it and reads the server.
#include "platform/rfc2217_serial_device.h"

#include <chrono>

#include "platform/rfc2217_serial_device_internals.h"

namespace kestrum {

using namespace rfc2217;

namespace {

constexpr size_t kReceiveChunk = 64 * 1024;
// While line changes keep coming the I/O thread sends them this often; after this many
// ticks without any it sleeps until woken.
constexpr int kTickMs = 1;
constexpr int kTicksBeforeIdle = 20;
// Close's last hand-over looks this often whether time is up.
constexpr int kStopSliceMs = 10;
// An idle I/O thread looks this often whether the server has gone silent.
constexpr int kWatchSliceMs = 100;

} // namespace

size_t Rfc2217SerialDevice::QueuedBytesLocked() const
{
    size_t total = 0;
    for (const Segment& segment : queued_)
        total += segment.bytes.size();
    return total;
}

// Consecutive pieces of one kind share a segment, so discarding data keeps commands.
// Data wakes the I/O thread at once. Line changes wake it only when it is idle: while
// they keep coming it looks every kTickMs anyway, so a burst costs one send per tick and
// not one per change, and a single change after a pause still goes out at once.
void Rfc2217SerialDevice::EnqueueLocked(bool data, const std::vector<uint8_t>& bytes, bool wake)
{
    if (queued_.empty() || queued_.back().data != data)
        queued_.push_back(Segment{data, {}});
    queued_.back().bytes.insert(queued_.back().bytes.end(), bytes.begin(), bytes.end());
    if (data)
        queuedData_ += bytes.size();
    if (wake && !wakePending_ && (data || !ioTicking_)) {
        wakePending_ = true;
        socket_.Wake();
    }
}

void Rfc2217SerialDevice::Enqueue(bool data, const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(mutex_);
    if (!gone_)
        EnqueueLocked(data, bytes);
}

// Moves everything queued behind what is in flight (send lock held); true when there
// was something.
bool Rfc2217SerialDevice::TakeQueued()
{
    std::lock_guard lock(mutex_);
    wakePending_ = false;
    const bool any = !queued_.empty();
    for (Segment& segment : queued_)
        inFlight_.insert(inFlight_.end(), segment.bytes.begin(), segment.bytes.end());
    queued_.clear();
    inFlightData_ += queuedData_;
    queuedData_ = 0;
    return any;
}

// Hands over what the socket takes without blocking (send lock held); true when nothing
// is left in flight.
bool Rfc2217SerialDevice::SendSome()
{
    while (inFlightSent_ < inFlight_.size()) {
        const long sent = socket_.Send(inFlight_.data() + inFlightSent_, inFlight_.size() - inFlightSent_);
        if (sent > 0) {
            inFlightSent_ += static_cast<size_t>(sent);
            continue;
        }
        if (sent == CTcpSocket::kWouldBlock)
            return false;
        const std::string reason = CTcpSocket::LastErrorText();
        std::lock_guard lock(mutex_);
        MarkGoneLocked("the connection to " + peer_ + " was lost: " + reason);
        return false;
    }
    inFlight_.clear();
    inFlightSent_ = 0;
    std::lock_guard lock(mutex_);
    inFlightData_ = 0;
    changed_.notify_all();
    return true;
}

// Sends what is queued from the calling thread; what the socket cannot take yet is left
// to the I/O thread.
void Rfc2217SerialDevice::SendQueued()
{
    std::lock_guard send(sendMutex_);
    TakeQueued();
    if (!SendSome())
        socket_.Wake();
}

void Rfc2217SerialDevice::ReceiveSome()
{
    std::lock_guard reading(readMutex_);
    uint8_t buffer[kReceiveChunk];
    const long got = socket_.Receive(buffer, sizeof buffer);
    if (got == CTcpSocket::kWouldBlock)
        return;
    const std::string reason = got < 0 ? CTcpSocket::LastErrorText() : "";
    std::lock_guard lock(mutex_);
    if (got == 0)
        MarkGoneLocked("the server at " + peer_ + " closed the connection");
    else if (got < 0)
        MarkGoneLocked("the connection to " + peer_ + " was lost: " + reason);
    else {
        bytesReceived_ += static_cast<uint64_t>(got);
        codec_.Feed(buffer, static_cast<size_t>(got), *this);
    }
    lastReceived_ = std::chrono::steady_clock::now();
    changed_.notify_all();
}

// False when the thread should end: the connection is gone, or Close asked and
// everything has been handed over or the time for that has passed.
bool Rfc2217SerialDevice::IoKeepsRunning(bool& pending, int& idleTicks)
{
    bool took = false;
    {
        std::lock_guard send(sendMutex_);
        took = TakeQueued();
        pending = !SendSome();
    }
    std::lock_guard lock(mutex_);
    idleTicks = took ? 0 : idleTicks + 1;
    ioTicking_ = idleTicks < kTicksBeforeIdle;
    if (stop_ && stopDeadline_ == std::chrono::steady_clock::time_point::max())
        stopDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timing_.closeFlushMs);
    return !gone_ && !(stop_ && (!pending || std::chrono::steady_clock::now() >= stopDeadline_));
}

void Rfc2217SerialDevice::IoThread()
{
    bool pending = false;
    int idleTicks = kTicksBeforeIdle;
    while (IoKeepsRunning(pending, idleTicks)) {
        bool ownerReading = false;
        int sliceMs = -1;
        {
            std::lock_guard lock(mutex_);
            ownerReading = ownerReading_;
            sliceMs = ioTicking_ ? kTickMs : stop_ ? kStopSliceMs : ownerReading ? kIoSliceMs : kWatchSliceMs;
            WatchServerLocked();
        }
        const int ready = socket_.Wait(!ownerReading, pending, true, sliceMs);
        if (ready == CTcpSocket::kWaitFailed) {
            const std::string reason = CTcpSocket::LastErrorText();
            std::lock_guard lock(mutex_);
            MarkGoneLocked("waiting on the connection failed: " + reason);
            break;
        }
        if ((ready & CTcpSocket::kReadable) && StartIoRead()) {
            ReceiveSome();
            std::lock_guard lock(mutex_);
            ioReading_ = false;
            changed_.notify_all();
        }
    }
}

// A caller waiting for an answer reads the input itself; the I/O thread then keeps off.
bool Rfc2217SerialDevice::StartIoRead()
{
    std::lock_guard lock(mutex_);
    if (ownerReading_)
        return false;
    ioReading_ = true;
    return true;
}

} // namespace kestrum
