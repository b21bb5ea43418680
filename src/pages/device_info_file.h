#pragma once

#include <string>

#include "protocol/device_info.h"

namespace kestrum {

// The device-information file technicians attach to their service reports: plain 8-bit
// text with CR LF line ends and tab-separated fields, in four blocks (the program, the
// connection, the device, the program settings).

// "Device: \t" and the kind's name, then a line for each value a query has given.
std::string DeviceInfoBlock(DeviceKind kind, const DeviceInfo& info);

// The whole file from the blocks of the Connection, Device and Program pages (either
// page block may be empty); buildDate is the program's build date as shown to users.
std::string DeviceInfoFileText(const std::string& connectionBlock, const std::string& deviceBlock,
                               const std::string& programBlock, const std::string& buildDate);

}  // namespace kestrum
