#pragma once

// A tty driver's serial flags as a test plays them: one that grants low-latency mode, one
// that refuses every flags call (as a pseudo-terminal does), and one that takes the flags
// but drops the low-latency bit. Safe to use from the port's threads.
#include <mutex>

#include "platform/c_low_latency_request.h"

namespace kestrum::test {

class FakeSerialFlags : public ISerialFlags {
public:
    enum class Driver { Grants, Refuses, DropsTheBit };

    explicit FakeSerialFlags(Driver driver, int flags = 0x0200) : driver_(driver), flags_(flags) {}

    bool Read(int, int& flags) override
    {
        std::lock_guard lock(mutex_);
        flags = flags_;
        return driver_ != Driver::Refuses;
    }
    bool Write(int, int flags) override
    {
        std::lock_guard lock(mutex_);
        ++writes_;
        if (driver_ == Driver::Refuses)
            return false;
        flags_ = driver_ == Driver::DropsTheBit ? flags & ~kLowLatencySerialFlag : flags;
        lowLatencySeen_ = lowLatencySeen_ || (flags_ & kLowLatencySerialFlag) != 0;
        return true;
    }

    int Flags() const
    {
        std::lock_guard lock(mutex_);
        return flags_;
    }
    int Writes() const
    {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    // The driver had the mode on at some time.
    bool LowLatencySeen() const
    {
        std::lock_guard lock(mutex_);
        return lowLatencySeen_;
    }

private:
    mutable std::mutex mutex_;
    const Driver driver_;
    int flags_;
    int writes_ = 0;
    bool lowLatencySeen_ = false;
};

} // namespace kestrum::test
