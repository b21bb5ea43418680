#include "platform/local_serial_device.h"

#include "platform/win32_serial_device.h"

namespace kestrum {

std::unique_ptr<ISerialDevice> CreateLocalSerialDevice(const std::string& name)
{
    if (!Win32SerialDevice::IsPortName(name))
        return nullptr;
    return std::make_unique<Win32SerialDevice>();
}

} // namespace kestrum
