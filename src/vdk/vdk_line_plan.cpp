#include "vdk/vdk_line_plan.h"

namespace kestrum {

namespace {

constexpr const char* kFtdiVendor = "0403";

struct FtdiChip {
    const char* release; // bcdDevice
    const char* name;
    bool synchronousBitBang;
};

// The chips by their bcdDevice. Synchronous bit-bang came with the FT2232C and the R
// series; the FT232B has only the asynchronous kind, and the FT-X series is left out
// until it has been tried.
constexpr FtdiChip kChips[] = {
    {"0200", "FT8U232AM", false}, {"0400", "FT232B", false}, {"0500", "FT2232C", true},
    {"0600", "FT232R", true},     {"0700", "FT2232H", true}, {"0800", "FT4232H", true},
    {"0900", "FT232H", true},     {"1000", "FT-X", false},
};

const FtdiChip* FindChip(const std::string& release)
{
    for (const FtdiChip& chip : kChips)
        if (release == chip.release)
            return &chip;
    return nullptr;
}

std::string WhyNotFtdi(const PortDetails& port)
{
    if (!port.IsUsb())
        return "The port " + port.path + " is not on a USB adapter";
    if (port.vendorId != kFtdiVendor)
        return "The USB adapter of " + port.path + " is not an FTDI adapter (USB vendor " + port.vendorId +
               ")";
    const FtdiChip* chip = FindChip(port.deviceRelease);
    if (chip == nullptr || !chip->synchronousBitBang)
        return "The FTDI chip of " + port.path + " (" +
               (chip != nullptr ? chip->name : "release " + port.deviceRelease) +
               ") has no synchronous bit-bang mode";
    if (port.busNumber < 0 || port.deviceAddress < 0 || port.interfaceNumber < 0)
        return "The USB device of " + port.path + " cannot be found";
    return {};
}

} // namespace

VdkLinePlan PlanVdkLines(VdkLines lines, const PortDetails& port)
{
    VdkLinePlan plan;
    if (lines == VdkLines::Control)
        return plan;
    plan.reason = WhyNotFtdi(port);
    plan.bitBang = plan.reason.empty();
    if (plan.bitBang)
        plan.device = UsbDeviceLocation{port.busNumber, port.deviceAddress, port.interfaceNumber};
    else if (lines == VdkLines::Auto && !port.IsUsb())
        plan.reason.clear(); // a built-in port or a network port: nothing fell back
    return plan;
}

std::string BitBangRefusedReason(const std::string& port, const std::string& error)
{
    return "The FTDI adapter of " + port + " cannot be used in bit-bang mode: " + error;
}

// Each line operation is a USB control transfer of a millisecond or more on an adapter,
// and a run makes about ten million of them.
std::string ControlLinesText(const std::string& reason)
{
    return reason + "; the VDK-1 is programmed through the control lines, which takes 3 hours or more "
                    "through a USB adapter";
}

std::string BitBangUnavailableText(const std::string& reason)
{
    return reason + "; bit-bang was asked for, so nothing is programmed";
}

} // namespace kestrum
