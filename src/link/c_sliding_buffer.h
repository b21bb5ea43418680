#pragma once

#include "link/c_byte_buffer.h"

namespace kestrum {

// A byte buffer that keeps the newest bytes: an append first drops the oldest bytes to
// make room. It does not signal the data event.
class CSlidingBuffer : public CByteBuffer {
public:
    using CByteBuffer::CByteBuffer;

    size_t Append(const uint8_t* data, size_t count) override;
};

} // namespace kestrum
