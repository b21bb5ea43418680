#pragma once

#include <string>
#include <vector>

#include "platform/system_ports.h"

namespace kestrum {

// The serial ports present (PresentSerialPorts), in natural order (ttyS2 before ttyS10,
// COM2 before COM10). Never empty: with no port present the list is the single
// kFallbackPortName (/dev/ttyS0, or COM1 on Windows).
std::vector<std::string> BuildPortList(const std::string& ttyClassDir = kTtyClassDir,
                                       const std::string& deviceDir = kDeviceDir);

// The entry of the list that names the same port as name: the name itself, or the
// entry for the same device (a /dev/serial/by-id link names its /dev/ttyUSBn; \\.\COM3
// names COM3).
// Empty when the list has none.
std::string ListedPortName(const std::vector<std::string>& ports, const std::string& name);

// Makes a port named by the user choosable: an existing character-device path (a pty,
// a /dev/serial/by-id link), an "rfc2217://host:port" URL or a name a registered serial
// backend serves (a simulated device in tests) is appended, as written, unless the list
// already holds that port (under this name or another). True when the list holds the
// port afterwards; ListedPortName tells under which name.
bool AcceptNamedPort(std::vector<std::string>& ports, const std::string& name);

// Why a port the user named is not one the list offers: the system's reason for a device
// path ("No such file or directory"), or what is wrong with the name; empty when nothing is.
std::string PortUnavailableReason(const std::string& name);
// "Port NAME is not available: REASON", as the status line and stderr say it.
std::string UnavailablePortText(const std::string& name);

// "rfc2217://host:port" with a host and a port number from 1 to 65535.
bool IsNetworkPortName(const std::string& name);

// The name a fresh installation uses: the first port of the list.
std::string DefaultPortName(const std::vector<std::string>& ports);

// Orders names with embedded numbers by value: "ttyS2" < "ttyS10".
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace kestrum
