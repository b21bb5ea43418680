#include "platform/system_ports.h"

#include <algorithm>
#include <cctype>

#include <windows.h>

#include "platform/win32_serial_device.h"

namespace kestrum {

namespace {

constexpr const char* kSerialMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* kDevicePrefix = "\\\\.\\";

// "COM3" for "COM3", "com3" and "\\.\COM3": the name Windows keeps the device under.
std::string DeviceName(const std::string& name)
{
    std::string base = name.starts_with(kDevicePrefix) ? name.substr(4) : name;
    std::transform(base.begin(), base.end(), base.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return base;
}


} // namespace

// Each value of the serial map is one port: its name is the driver's device, its data the
// COM name.
std::vector<std::string> PresentSerialPorts(const std::string&, const std::string&)
{
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialMapKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        DWORD nameLength = sizeof valueName;
        BYTE data[256];
        DWORD dataLength = sizeof data - 1;
        DWORD type = 0;
        const LONG result =
            ::RegEnumValueA(key, index, valueName, &nameLength, nullptr, &type, data, &dataLength);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataLength] = 0;
        const std::string port(reinterpret_cast<const char*>(data));
        if (Win32SerialDevice::IsPortName(port) && std::find(ports.begin(), ports.end(), port) == ports.end())
            ports.push_back(port);
    }
    ::RegCloseKey(key);
    return ports;
}

// Any COM name, present or not: the serial map lists only what the system's drivers
// entered there (Wine's holds its COM ports set up at start only), and a port that is not
// there fails its open with the usual "Open COMn port failed".
bool IsLocalPortName(const std::string& name)
{
    return Win32SerialDevice::IsPortName(name);
}

// A COM name the registry's serial map does not hold is a port this machine lacks now.
std::string LocalPortUnavailableReason(const std::string& name)
{
    return Win32SerialDevice::IsPortName(name) ? "not present on this machine" : "not a COM port name";
}

bool SameLocalPort(const std::string& a, const std::string& b)
{
    return Win32SerialDevice::IsPortName(a) && DeviceName(a) == DeviceName(b);
}

// Windows users write COM10 and above as \\.\COM10 too.
std::string LocalPortFromOption(const std::string& value)
{
    return value.starts_with(kDevicePrefix) ? value : "";
}

} // namespace kestrum
