#include "platform/system_ports.h"

#include <filesystem>
#include <fstream>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace kestrum {

namespace {

namespace fs = std::filesystem;

// Serial-core ports tell their UART type; 0 means no UART was found at that place.
bool HasUart(const fs::path& entry)
{
    std::ifstream typeFile(entry / "type");
    if (!typeFile)
        return true; // not a serial-core port: the device link is enough
    int type = 0;
    typeFile >> type;
    return static_cast<bool>(typeFile) && type != 0;
}

bool IsPresentPort(const fs::directory_entry& entry, const std::string& deviceDir)
{
    std::error_code error;
    const bool hasDevice = fs::exists(entry.path() / "device", error);
    return hasDevice && HasUart(entry.path()) && fs::exists(fs::path(deviceDir) / entry.path().filename(), error);
}

bool IsCharacterDevice(const std::string& path, struct stat& info)
{
    return ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

} // namespace

std::vector<std::string> PresentSerialPorts(const std::string& ttyClassDir, const std::string& deviceDir)
{
    std::vector<std::string> ports;
    std::error_code error;
    for (fs::directory_iterator it(ttyClassDir, error), end; !error && it != end; it.increment(error))
        if (IsPresentPort(*it, deviceDir))
            ports.push_back((fs::path(deviceDir) / it->path().filename()).string());
    return ports;
}

bool IsLocalPortName(const std::string& name)
{
    struct stat info {};
    return name.starts_with("/") && IsCharacterDevice(name, info);
}

std::string LocalPortUnavailableReason(const std::string& name)
{
    if (!name.starts_with("/"))
        return "not a device path";
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0)
        return std::strerror(errno);
    return S_ISCHR(info.st_mode) ? "" : "not a serial device";
}

// One file under two names (a link), or two nodes of one device.
bool SameLocalPort(const std::string& a, const std::string& b)
{
    struct stat first {};
    struct stat second {};
    if (!a.starts_with("/") || !b.starts_with("/") || ::stat(a.c_str(), &first) != 0 ||
        ::stat(b.c_str(), &second) != 0)
        return false;
    return (first.st_dev == second.st_dev && first.st_ino == second.st_ino) ||
           (S_ISCHR(first.st_mode) && S_ISCHR(second.st_mode) && first.st_rdev == second.st_rdev);
}

// A path as it stands, whether it exists or not; "ttyUSB0" for /dev/ttyUSB0: the way
// Linux users name a port.
std::string LocalPortFromOption(const std::string& value)
{
    if (value.starts_with("/"))
        return value;
    struct stat info {};
    const bool bareName = !value.empty() && value.find('/') == std::string::npos && value != "." && value != "..";
    return bareName && IsCharacterDevice("/dev/" + value, info) ? "/dev/" + value : "";
}

} // namespace kestrum
