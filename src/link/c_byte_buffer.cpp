#include "link/c_byte_buffer.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace kestrum {

CByteBuffer::CByteBuffer(size_t capacity) : capacity_(capacity), data_(capacity + 1, 0) {}

size_t CByteBuffer::CopyInLocked(const uint8_t* data, size_t count)
{
    const size_t taken = std::min(count, capacity_ - length_);
    if (taken > 0)
        std::memcpy(data_.data() + length_, data, taken);
    length_ += taken;
    data_[length_] = 0;
    return taken;
}

void CByteBuffer::DropFrontLocked(size_t n)
{
    if (n >= length_) {
        std::fill(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(length_), uint8_t{0});
        length_ = 0;
        return;
    }
    std::memmove(data_.data(), data_.data() + n, length_ - n);
    std::fill(data_.begin() + static_cast<std::ptrdiff_t>(length_ - n),
              data_.begin() + static_cast<std::ptrdiff_t>(length_), uint8_t{0});
    length_ -= n;
}

size_t CByteBuffer::Append(const uint8_t* data, size_t count)
{
    size_t length = 0;
    {
        std::lock_guard lock(mutex_);
        CopyInLocked(data, count);
        length = length_;
    }
    dataEvent_.Set();
    return length;
}

void CByteBuffer::Consume(long n)
{
    {
        std::lock_guard lock(mutex_);
        if (n < 0 || static_cast<size_t>(n) >= capacity_)
            DropFrontLocked(length_);
        else
            DropFrontLocked(static_cast<size_t>(n));
    }
    roomMade_.notify_all();
}

size_t CByteBuffer::Room() const
{
    std::lock_guard lock(mutex_);
    return capacity_ - length_;
}

bool CByteBuffer::WaitForRoom(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    return roomMade_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                              [this] { return length_ < capacity_; });
}

void CByteBuffer::Terminate()
{
    std::lock_guard lock(mutex_);
    data_[length_] = 0;
}

size_t CByteBuffer::Length() const
{
    std::lock_guard lock(mutex_);
    return length_;
}

std::string CByteBuffer::Contents() const
{
    std::lock_guard lock(mutex_);
    return std::string(reinterpret_cast<const char*>(data_.data()), length_);
}

void CByteBuffer::Inspect(const std::function<void(const uint8_t* data, size_t length)>& visit) const
{
    std::lock_guard lock(mutex_);
    visit(data_.data(), length_);
}

} // namespace kestrum
