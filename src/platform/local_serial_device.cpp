#include "platform/local_serial_device.h"

#include "platform/termios_serial_device.h"

namespace kestrum {

// Only absolute device paths go to termios: a Windows-style "COM1" must not open
// whatever file of that name the working directory happens to hold.
std::unique_ptr<ISerialDevice> CreateLocalSerialDevice(const std::string& name)
{
    if (!name.starts_with("/"))
        return nullptr;
    return std::make_unique<TermiosSerialDevice>();
}

} // namespace kestrum
