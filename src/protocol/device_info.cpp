#include "protocol/device_info.h"

namespace kestrum {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kWideGap = "\t\t";
constexpr std::string_view kNarrowGap = "\t";  // after the long RAM-size label

std::string Line(std::string_view label, std::string_view gap, std::string_view value)
{
    std::string line(label);
    line += gap;
    line += value;
    return line;
}

}  // namespace

std::string_view DeviceKindName(DeviceKind kind)
{
    switch (kind) {
    case DeviceKind::Receiver:
        return "Receiver";
    case DeviceKind::PowerBoard:
        return "Receiver's Power Board";
    case DeviceKind::DisplayUnit:
        return "VDK-1";
    }
    return "";
}

void DeviceInfo::ClearAll()
{
    model.clear();
    id.clear();
    ramSize.clear();
    ClearVersions();
}

void DeviceInfo::ClearVersions()
{
    firmware.clear();
    hardware.clear();
}

std::string ReceiverLabelsText()
{
    std::string text;
    for (std::string_view label : {kModelLabel, kIdLabel, kFirmwareLabel, kHardwareLabel}) {
        text += label;
        text += kLineEnd;
    }
    text += kRamSizeLabel;
    return text;
}

std::string VersionLabelsText()
{
    return std::string(kFirmwareLabel) + std::string(kLineEnd) + std::string(kHardwareLabel) + std::string(kLineEnd);
}

std::string ReceiverInfoText(const DeviceInfo& info)
{
    std::string text = Line(kModelLabel, kWideGap, info.model);
    text += kLineEnd;
    text += Line(kIdLabel, kWideGap, info.id);
    text += kLineEnd;
    text += Line(kFirmwareLabel, kWideGap, info.firmware);
    text += kLineEnd;
    text += Line(kHardwareLabel, kWideGap, info.hardware);
    text += kLineEnd;
    text += Line(kRamSizeLabel, kNarrowGap, info.ramSize);
    return text;
}

std::string VersionInfoText(const DeviceInfo& info)
{
    std::string text = Line(kFirmwareLabel, kWideGap, info.firmware);
    text += kLineEnd;
    text += Line(kHardwareLabel, kWideGap, info.hardware);
    text += kLineEnd;
    return text;
}

void TrimLeadingBlanks(std::string& value)
{
    const size_t first = value.find_first_not_of(' ');
    value.erase(0, first == std::string::npos ? value.size() : first);
}

}  // namespace kestrum
