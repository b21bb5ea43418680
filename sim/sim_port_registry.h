#pragma once

#include "sim/device_model.h"
#include "sim/sim_serial_device.h"

#include <memory>
#include <string>

namespace kestrum {

// Port names for simulated devices, so code that opens ports by name (CSerialPort through
// the serial-device factory) reaches a model: register a model under "sim:receiver", call
// RegisterSimBackend once, and opening "sim:receiver" talks to that model.
inline constexpr const char* kSimPortPrefix = "sim:";

// Puts a model under a port name (which should start with "sim:"); replaces an earlier one.
void RegisterSimPort(const std::string& name, std::shared_ptr<DeviceModel> model,
                     SimSerialDevice::Options options = {});
void UnregisterSimPort(const std::string& name);

// An unopened device for a registered name; a name nobody registered gives a device whose
// Open fails as "not found".
std::unique_ptr<SimSerialDevice> CreateSimSerialDevice(const std::string& name);

// Makes the serial-device factory hand out simulated devices for "sim:" names.
void RegisterSimBackend();

}  // namespace kestrum
