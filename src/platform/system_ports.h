#pragma once

#include <string>
#include <vector>

namespace kestrum {

// The serial ports this system has and the names it gives them: device paths on Linux
// (/dev/ttyUSB0), COM names on Windows (COM3).
#ifdef _WIN32
// The port offered when the machine shows none, and the default port name then.
inline constexpr const char* kFallbackPortName = "COM1";
// Windows lists its ports in the registry, not in directories.
inline constexpr const char* kTtyClassDir = "";
inline constexpr const char* kDeviceDir = "";
// For help texts: how this system names a port, two examples, what `ports` lists.
inline constexpr const char* kPortNameKind = "a COM port (COM3, or just 3)";
inline constexpr const char* kExamplePortList = "COM3,COM4";
inline constexpr const char* kPortListing = "the COM ports Windows has";
#else
inline constexpr const char* kFallbackPortName = "/dev/ttyS0";
inline constexpr const char* kTtyClassDir = "/sys/class/tty";
inline constexpr const char* kDeviceDir = "/dev";
inline constexpr const char* kPortNameKind = "a device path (/dev/ttyUSB0)";
inline constexpr const char* kExamplePortList = "/dev/ttyUSB0,/dev/ttyUSB1";
inline constexpr const char* kPortListing =
    "the serial ports, with the maker, product, serial number and\n"
    "          /dev/serial/by-id name of USB adapters";
#endif

// The names of the serial ports present, in no particular order. Linux: every tty of the
// class directory with a device behind it, except serial-core ports whose UART type is
// unknown (the kernel lists ttyS0..ttyS31 whether a UART answers or not), and only when
// its node exists in the device directory. Windows: the registry's serial map
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM); the directories are not used.
std::vector<std::string> PresentSerialPorts(const std::string& ttyClassDir, const std::string& deviceDir);

// Whether name is a local port this system's serial backend opens: an existing character
// device path (a pty, a /dev/serial/by-id link), or a COM name (COM7, \\.\COM7).
bool IsLocalPortName(const std::string& name);

// Why name is no local port this system can open, in a technician's words ("No such file
// or directory", "not a device path", "not a serial device"); empty when nothing is
// known against it.
std::string LocalPortUnavailableReason(const std::string& name);

// Whether two local port names lead to the same port (a by-id link and its /dev/ttyUSBn;
// COM3 and \\.\COM3).
bool SameLocalPort(const std::string& a, const std::string& b);

// The port a -p value names in this system's own way, or empty: a bare device name under
// /dev ("ttyUSB0") on Linux; Windows has no such names beyond COMn.
std::string LocalPortFromOption(const std::string& value);

} // namespace kestrum
