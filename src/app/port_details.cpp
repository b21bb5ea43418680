#include "app/port_details.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace kestrum {

namespace {

namespace fs = std::filesystem;

// A USB adapter's tty sits one level (ACM: the interface) or two (a USB-serial port
// below the interface) under the USB device; a few more levels cost nothing.
constexpr int kUsbDeviceSearchDepth = 4;

std::string ReadAttribute(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    return line;
}

fs::path Canonical(const fs::path& path)
{
    std::error_code error;
    fs::path resolved = fs::canonical(path, error);
    return error ? fs::path() : resolved;
}

// Device file -> the first by-id link (in name order) that leads to it.
std::map<fs::path, std::string> ByIdLinks(const std::string& deviceDir)
{
    std::vector<fs::path> links;
    if (deviceDir.empty()) // a system without device files (Windows)
        return {};
    std::error_code error;
    for (fs::directory_iterator it(fs::path(deviceDir) / "serial/by-id", error), end; !error && it != end;
         it.increment(error))
        links.push_back(it->path());
    std::sort(links.begin(), links.end());
    std::map<fs::path, std::string> byTarget;
    for (const fs::path& link : links) {
        const fs::path target = Canonical(link);
        if (!target.empty())
            byTarget.emplace(target, link.string());
    }
    return byTarget;
}

// The nearest folder above the tty's device that holds the attribute.
fs::path FindAbove(const fs::path& ttyDevice, const char* attribute)
{
    fs::path dir = Canonical(ttyDevice);
    for (int depth = 0; !dir.empty() && depth < kUsbDeviceSearchDepth; ++depth) {
        std::error_code error;
        if (fs::exists(dir / attribute, error))
            return dir;
        if (dir == dir.parent_path())
            break;
        dir = dir.parent_path();
    }
    return {};
}

// sysfs writes decimal numbers, and hexadecimal ones without "0x"; -1 when unreadable.
int ReadNumber(const fs::path& file, int base)
{
    const std::string text = ReadAttribute(file);
    if (text.empty())
        return -1;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, base);
    return *end == '\0' && value >= 0 && value <= 0xFFFF ? static_cast<int>(value) : -1;
}

void ReadUsbDetails(const fs::path& usbDevice, const fs::path& usbInterface, PortDetails& details)
{
    details.deviceRelease = ReadAttribute(usbDevice / "bcdDevice");
    details.busNumber = ReadNumber(usbDevice / "busnum", 10);
    details.deviceAddress = ReadNumber(usbDevice / "devnum", 10);
    if (!usbInterface.empty())
        details.interfaceNumber = ReadNumber(usbInterface / "bInterfaceNumber", 16);
    details.vendorId = ReadAttribute(usbDevice / "idVendor");
    details.productId = ReadAttribute(usbDevice / "idProduct");
    details.manufacturer = ReadAttribute(usbDevice / "manufacturer");
    details.product = ReadAttribute(usbDevice / "product");
    details.serialNumber = ReadAttribute(usbDevice / "serial");
}

} // namespace

std::string PortDetails::Summary() const
{
    if (!IsUsb())
        return "";
    std::string text = manufacturer;
    if (!product.empty())
        text += (text.empty() ? "" : " ") + product;
    if (text.empty())
        text = "USB device " + vendorId + ":" + productId;
    if (!serialNumber.empty())
        text += ", serial " + serialNumber;
    return text;
}

std::vector<PortDetails> DescribePorts(const std::vector<std::string>& ports, const std::string& ttyClassDir,
                                       const std::string& deviceDir)
{
    const std::map<fs::path, std::string> byId = ByIdLinks(deviceDir);
    std::vector<PortDetails> described;
    for (const std::string& port : ports) {
        PortDetails details;
        details.path = port;
        const fs::path device = port.starts_with("/") ? Canonical(port) : fs::path();
        if (!device.empty()) {
            if (const auto link = byId.find(device); link != byId.end())
                details.byIdPath = link->second;
            const fs::path ttyDevice = fs::path(ttyClassDir) / device.filename() / "device";
            const fs::path usbDevice = FindAbove(ttyDevice, "idVendor");
            if (!usbDevice.empty())
                ReadUsbDetails(usbDevice, FindAbove(ttyDevice, "bInterfaceNumber"), details);
        }
        described.push_back(details);
    }
    return described;
}

} // namespace kestrum
