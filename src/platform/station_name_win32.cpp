#include "platform/station_name.h"

#include <windows.h>

namespace kestrum {

// The DNS host name, as on Linux; the NetBIOS name is upper-cased and cut to 15 characters.
std::string StationName()
{
    char name[256] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameExA(ComputerNameDnsHostname, name, &size))
        return {};
    return std::string(name, size);
}

}  // namespace kestrum
