#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/c_event.h"

namespace kestrum {

// A fixed-capacity byte queue shared by a producer thread and a consumer. Bytes that do
// not fit are dropped. The byte after the last valid one is always 0, so the contents
// read as a C string; emptied space is zero-filled.
class CByteBuffer {
public:
    explicit CByteBuffer(size_t capacity);
    virtual ~CByteBuffer() = default;
    CByteBuffer(const CByteBuffer&) = delete;
    CByteBuffer& operator=(const CByteBuffer&) = delete;

    // Copies what fits, drops the rest, signals the data event; returns the new length.
    virtual size_t Append(const uint8_t* data, size_t count);

    // Removes the first n bytes; n negative, at least the capacity or at least the length
    // empties the buffer.
    void Consume(long n);
    void Terminate();

    size_t Length() const;
    size_t Capacity() const { return capacity_; }
    size_t Room() const;
    // Waits at most timeoutMs for a Consume to make room; true when there is room.
    bool WaitForRoom(int timeoutMs);
    std::string Contents() const;
    // Runs visit on the contents under the buffer's lock (no copy); visit must not call
    // back into the buffer.
    void Inspect(const std::function<void(const uint8_t* data, size_t length)>& visit) const;

    CEvent& DataEvent() { return dataEvent_; }

protected:
    size_t CopyInLocked(const uint8_t* data, size_t count);
    void DropFrontLocked(size_t n);

    mutable std::mutex mutex_;
    const size_t capacity_;
    std::vector<uint8_t> data_; // capacity + 1
    size_t length_ = 0;

private:
    CEvent dataEvent_{CEvent::ResetMode::Auto};
    std::condition_variable roomMade_;
};

} // namespace kestrum
