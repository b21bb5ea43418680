#pragma once

#include <memory>

#include "platform/serial_device.h"
#include "platform/serial_flags.h"

namespace kestrum {

// Low-latency mode of an open tty, asked for when a port opens and taken back when it
// closes. A USB adapter's driver then hands on received bytes at once (an FTDI adapter
// sets its latency timer to 1 ms instead of the usual 16), which every reply of a load
// waits for. The flag is one an unprivileged user may set on a port it has open; a
// driver that refuses it, or has no serial flags at all (a pseudo-terminal), changes
// nothing and costs one call.
class CLowLatencyRequest {
public:
    explicit CLowLatencyRequest(std::shared_ptr<ISerialFlags> flags = SystemSerialFlags());

    // Asks the driver of fd for the mode and remembers the flags it had.
    LowLatencyMode Ask(int fd);
    // Puts the remembered flags back when Ask changed them; afterwards nothing is asked.
    void TakeBack(int fd);
    LowLatencyMode Mode() const { return mode_; }

private:
    std::shared_ptr<ISerialFlags> flags_;
    LowLatencyMode mode_ = LowLatencyMode::NotAsked;
    int found_ = 0;
};

} // namespace kestrum
