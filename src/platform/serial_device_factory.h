#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/serial_device.h"

namespace kestrum {

// Makes an unopened device for a backend; the name is passed to its Open later.
using SerialDeviceMaker = std::function<std::unique_ptr<ISerialDevice>()>;

// The device for a port name: a registered prefix ("sim:") picks its backend, the
// longest matching prefix first; otherwise "rfc2217://host:port" gets the built-in
// network client and an absolute path the termios backend; anything else gets a device
// whose open fails as not found. Never null.
std::unique_ptr<ISerialDevice> CreateSerialDevice(const std::string& name);

// Adds (or replaces) the backend for names starting with prefix. Backends living in a
// static library must be registered by an explicit call from the program or test that
// uses them: a registering static object in an unreferenced object file is never linked.
void RegisterSerialBackend(const std::string& prefix, SerialDeviceMaker maker);
void UnregisterSerialBackend(const std::string& prefix);
// Whether a registered backend serves the name (only tests and tools register any).
bool HasRegisteredBackend(const std::string& name);

} // namespace kestrum
