#pragma once

#include <memory>

namespace kestrum {

// The serial flags of an open tty (TIOCGSERIAL and TIOCSSERIAL), behind an interface so
// that tests can play a driver that grants or refuses them: the adapters whose drivers act
// on the flags are not on a test machine, and a pseudo-terminal refuses them.
class ISerialFlags {
public:
    virtual ~ISerialFlags() = default;
    // false when the driver refuses or has no such flags.
    virtual bool Read(int fd, int& flags) = 0;
    // Changes the flags only; every other field of the driver's record stays as it is.
    virtual bool Write(int fd, int flags) = 0;
};

// The flag that asks the driver for low-latency mode (ASYNC_LOW_LATENCY); users may set it
// on a port they have open.
extern const int kLowLatencySerialFlag;

// The driver's own flags, through the ioctls.
std::shared_ptr<ISerialFlags> SystemSerialFlags();

} // namespace kestrum
