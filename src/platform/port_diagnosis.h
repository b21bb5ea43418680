#pragma once

#include <string>
#include <vector>

#include "platform/serial_device.h"

namespace kestrum {

// Where the diagnosis looks on this system; tests point it at trees of their own.
struct DiagnosisRoots {
    std::string proc = "/proc";
    std::string ttyClassDir = "/sys/class/tty";
};

// What Linux can tell beyond the fixed text of a device path that did not open, one
// line each, for the user to act on: for missing permission the group that owns the
// device and the command that adds the user to it; for a busy port the processes that
// hold it (on a desktop often ModemManager probing a new adapter). Empty for other
// failures and for names that are no device path.
std::vector<std::string> DiagnoseOpenFailure(const std::string& path, SerialOpenError error,
                                             const DiagnosisRoots& roots = {});

// Notes on a port that opened: an FTDI adapter whose latency timer still holds received
// bytes for more than 1 ms after the open asked for low-latency mode (lowLatency: what the
// driver answered; granted, its timer is 1 ms whatever sysfs holds), which slows every
// reply of a load.
std::vector<std::string> DiagnoseOpenedPort(const std::string& path, const DiagnosisRoots& roots = {},
                                            LowLatencyMode lowLatency = LowLatencyMode::NotAsked);

} // namespace kestrum
