#include "platform/station_name.h"

#include <climits>

#include <unistd.h>

namespace kestrum {

std::string StationName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

}  // namespace kestrum
