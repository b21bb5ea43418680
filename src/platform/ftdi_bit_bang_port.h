#pragma once

#include <memory>

#include "platform/bit_bang_port.h"

namespace kestrum {

// An FTDI adapter's synchronous bit-bang mode through libftdi1, the kernel driver detached
// while it is open and attached again at Close, so /dev/ttyUSBn comes back. In a build
// without libftdi1 the port's Open fails and says so.
std::unique_ptr<IBitBangPort> CreateFtdiBitBangPort();

} // namespace kestrum
