#pragma once

#include <memory>
#include <string>

#include "platform/serial_device.h"

namespace kestrum {

// The system's own serial device for a local port name: termios for a device path
// (/dev/ttyUSB0) on Linux, the Win32 backend for COMn and \\.\NAME on Windows. Null when
// the name is no local port name of this system.
std::unique_ptr<ISerialDevice> CreateLocalSerialDevice(const std::string& name);

} // namespace kestrum
