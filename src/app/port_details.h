#pragma once

#include <string>
#include <vector>

#include "app/port_list.h"

namespace kestrum {

// What the system tells about the hardware behind a port, so the user can tell the
// adapters apart: the stable name udev gives a USB adapter and what the adapter says of
// itself. Empty fields are not known (a built-in port, a pty, an adapter without a
// serial number).
struct PortDetails {
    std::string path;     // as the port list names it
    std::string byIdPath; // /dev/serial/by-id/... for the same device
    std::string vendorId; // USB identifiers as the kernel writes them ("0403")
    std::string productId;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    std::string deviceRelease; // bcdDevice ("0600"): on an FTDI adapter it names the chip
    // Where the USB device sits (busnum, devnum) and which of its interfaces is this port
    // (bInterfaceNumber); -1 when not known.
    int busNumber = -1;
    int deviceAddress = -1;
    int interfaceNumber = -1;

    bool IsUsb() const { return !vendorId.empty(); }
    // "FTDI FT232R USB UART, serial A50285BI"; empty for a port that is no USB adapter.
    std::string Summary() const;
};

// The details of each port of the list, in its order: by-id names from the links in
// deviceDir/serial/by-id, the adapter's own words from the USB device above the tty in
// the class directory's sysfs tree.
std::vector<PortDetails> DescribePorts(const std::vector<std::string>& ports,
                                       const std::string& ttyClassDir = kTtyClassDir,
                                       const std::string& deviceDir = kDeviceDir);

} // namespace kestrum
