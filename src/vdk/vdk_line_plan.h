#pragma once

#include <string>

#include "app/port_details.h"
#include "platform/bit_bang_port.h"
#include "vdk/vdk_line_settings.h"

namespace kestrum {

// How a VDK-1 run means to reach the unit, decided from what sysfs tells of its port
// before anything is opened.
struct VdkLinePlan {
    bool bitBang = false;
    UsbDeviceLocation device; // of the adapter, when bitBang
    // Why bit-bang is not the way: said on a USB adapter (the control lines are slow there)
    // and when bit-bang was asked for; empty for a port that is no USB adapter in auto.
    std::string reason;
};

// Bit-bang for an FTDI adapter (USB vendor 0403) whose chip (bcdDevice) has the
// synchronous bit-bang mode, unless the control lines are asked for.
VdkLinePlan PlanVdkLines(VdkLines lines, const PortDetails& port);

// Why the bit-bang path did not open, from the adapter's own words.
std::string BitBangRefusedReason(const std::string& port, const std::string& error);
// The status line of a run that goes on through the control lines for that reason.
std::string ControlLinesText(const std::string& reason);
// The status line of a run that stops, since bit-bang was asked for and cannot be.
std::string BitBangUnavailableText(const std::string& reason);

} // namespace kestrum
