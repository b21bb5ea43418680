#pragma once

#include <cstdint>

namespace kestrum {

// Milliseconds since construction (or the last Restart), on the wrapping tick count.
class CStopwatch {
public:
    CStopwatch();
    virtual ~CStopwatch() = default;

    virtual uint32_t Elapsed() const;
    void Restart();

private:
    uint32_t start_;
};

}  // namespace kestrum
