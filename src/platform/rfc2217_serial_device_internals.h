#pragma once

// What the source files of Rfc2217SerialDevice share: the sizes and periods they agree on,
// the encoders of single commands, the texts of waits, and the two waits every part uses.
// Included by those files only.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/rfc2217_serial_device.h"
#include "platform/rfc2217_telnet_codec.h"

namespace kestrum {

namespace rfc2217 {

// Bytes queued for the I/O thread; Write takes no more, line changes wait for room.
constexpr size_t kOutputRoom = 256 * 1024;
// While a caller reads the input itself the I/O thread looks again this often.
constexpr int kIoSliceMs = 20;
// While the open waits it looks at the cancel check this often.
constexpr int kCancelLookMs = 20;

inline std::vector<uint8_t> ComPort(uint8_t command, uint8_t value)
{
    std::vector<uint8_t> bytes;
    Rfc2217TelnetCodec::AppendComPort(bytes, command, value);
    return bytes;
}

inline std::vector<uint8_t> ComPort32(uint8_t command, uint32_t value)
{
    std::vector<uint8_t> bytes;
    Rfc2217TelnetCodec::AppendComPort32(bytes, command, value);
    return bytes;
}

inline std::string Seconds(int ms)
{
    return std::to_string((ms + 999) / 1000) + " s";
}

// The real time since start, for texts that say how long was waited.
inline std::string SecondsSince(std::chrono::steady_clock::time_point start)
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    return text;
}

} // namespace rfc2217

template <typename Predicate>
bool Rfc2217SerialDevice::WaitFor(std::unique_lock<std::mutex>& lock, int timeoutMs, Predicate predicate)
{
    auto done = [&] { return gone_ || predicate(); };
    if (timeoutMs < 0)
        changed_.wait(lock, done);
    else
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    return !gone_ && predicate();
}

// The caller sends and reads the socket itself while it waits for an answer, so a round
// trip costs no hand-over between threads; the I/O thread keeps off the input meanwhile.
// The lock is held on entry and on return; deadline() is read with it held. A cancel
// ends the wait too.
template <typename Deadline>
bool Rfc2217SerialDevice::ReadUntilAnswered(std::unique_lock<std::mutex>& lock, uint64_t ask, Deadline deadline)
{
    ownerReading_ = true;
    lock.unlock();
    SendQueued();
    lock.lock();
    auto answered = [&] { return gone_ || rateReplies_ >= ask; };
    while (!answered() && std::chrono::steady_clock::now() < deadline()) {
        // The I/O thread may have started a read before we took over: let it finish.
        if (ioReading_) {
            changed_.wait_until(lock, deadline(), [&] { return !ioReading_ || answered(); });
            continue;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline() - std::chrono::steady_clock::now());
        lock.unlock();
        const int sliceMs =
            static_cast<int>(std::clamp<int64_t>(left.count() + 1, 0, rfc2217::kIoSliceMs));
        if (socket_.Wait(true, false, false, sliceMs) > 0)
            ReceiveSome();
        const bool cancelled = CancelSeen();
        lock.lock();
        if (cancelled)
            break;
    }
    ownerReading_ = false;
    changed_.notify_all();
    // An idle I/O thread is not watching the input: let it take over now.
    if (!ioTicking_)
        socket_.Wake();
    return !gone_ && rateReplies_ >= ask;
}

} // namespace kestrum
