#pragma once

// A USB serial adapter laid out as sysfs and udev show it, in fake trees of a test: the
// USB device with what it says of itself, the interface below it with the tty's device
// (as a USB-serial driver puts it), the tty's device link in the class directory, its
// node in the device directory and, when it has one, its /dev/serial/by-id link.
#include <filesystem>
#include <string>

#include "app/temp_dir.h"

namespace kestrum::test {

struct FakeUsbAdapter {
    std::string tty; // "ttyUSB0"
    std::string manufacturer;
    std::string product;
    std::string serial; // empty: the adapter has none
    std::string byId;   // the link's name in serial/by-id; empty: no link
    std::string vendorId = "0403";
    std::string productId = "6001";
    std::string release = "0600"; // bcdDevice
    std::string busNumber = "1";
    std::string deviceAddress = "4";
    std::string interfaceNumber = "00"; // bInterfaceNumber, as sysfs writes it
};

// sysRoot holds the devices tree; classDir and deviceDir are the fake /sys/class/tty and /dev.
inline void AddFakeUsbAdapter(const FakeUsbAdapter& adapter, const std::filesystem::path& sysRoot,
                              const std::filesystem::path& classDir, const std::filesystem::path& deviceDir)
{
    namespace fs = std::filesystem;
    const fs::path usbDevice = sysRoot / "devices/pci0000:00/usb1" / ("1-" + adapter.tty);
    const fs::path ttyDevice = usbDevice / "1-1:1.0" / adapter.tty;
    fs::create_directories(ttyDevice);
    WriteFile((usbDevice / "idVendor").string(), adapter.vendorId + "\n");
    WriteFile((usbDevice / "idProduct").string(), adapter.productId + "\n");
    WriteFile((usbDevice / "bcdDevice").string(), adapter.release + "\n");
    WriteFile((usbDevice / "busnum").string(), adapter.busNumber + "\n");
    WriteFile((usbDevice / "devnum").string(), adapter.deviceAddress + "\n");
    WriteFile((usbDevice / "1-1:1.0/bInterfaceNumber").string(), adapter.interfaceNumber + "\n");
    if (!adapter.manufacturer.empty())
        WriteFile((usbDevice / "manufacturer").string(), adapter.manufacturer + "\n");
    if (!adapter.product.empty())
        WriteFile((usbDevice / "product").string(), adapter.product + "\n");
    if (!adapter.serial.empty())
        WriteFile((usbDevice / "serial").string(), adapter.serial + "\n");
    const fs::path entry = classDir / adapter.tty;
    fs::create_directories(entry);
    fs::remove(entry / "device");
    fs::create_directory_symlink(ttyDevice, entry / "device");
    fs::create_directories(deviceDir);
    WriteFile((deviceDir / adapter.tty).string(), "");
    if (!adapter.byId.empty()) {
        fs::create_directories(deviceDir / "serial/by-id");
        fs::create_symlink("../../" + adapter.tty, deviceDir / "serial/by-id" / adapter.byId);
    }
}

} // namespace kestrum::test
