#include "link/c_sliding_buffer.h"

namespace kestrum {

// A single append longer than the whole buffer keeps its own last bytes: those are the
// newest.
size_t CSlidingBuffer::Append(const uint8_t* data, size_t count)
{
    std::lock_guard lock(mutex_);
    if (count >= capacity_) {
        DropFrontLocked(length_);
        CopyInLocked(data + (count - capacity_), capacity_);
        return length_;
    }
    if (length_ + count > capacity_)
        DropFrontLocked(length_ + count - capacity_);
    CopyInLocked(data, count);
    return length_;
}

} // namespace kestrum
