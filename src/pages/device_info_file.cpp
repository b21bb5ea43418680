#include "pages/device_info_file.h"

#include "app/program_identity.h"

namespace kestrum {

std::string DeviceInfoBlock(DeviceKind kind, const DeviceInfo& info)
{
    std::string block = "Device: \t" + std::string(DeviceKindName(kind));
    const struct {
        std::string_view label;
        const char* separator;
        const std::string& value;
    } lines[] = {{kModelLabel, "\t\t", info.model},
                 {kIdLabel, "\t\t", info.id},
                 {kFirmwareLabel, "\t", info.firmware},
                 {kHardwareLabel, "\t", info.hardware},
                 {kRamSizeLabel, "\t", info.ramSize}};
    for (const auto& line : lines) {
        if (!line.value.empty())
            block += "\r\n" + std::string(line.label) + line.separator + line.value;
    }
    return block;
}

std::string DeviceInfoFileText(const std::string& connectionBlock, const std::string& deviceBlock,
                               const std::string& programBlock, const std::string& buildDate)
{
    return std::string("File created by\t") + kApplicationTitle + "\r\n" + "\r\nVersion:\t" + kVersionText +
           "\r\nBuild:\t\t" + buildDate + "\r\n" + "\r\nConnection information:\r\n\r\n" + connectionBlock +
           "\r\n\r\n" + "Device information:\r\n\r\n" + deviceBlock + "\r\n\r\n" +
           "\r\nProgram information:\r\n\r\n" + programBlock + "\r\n\r\n";
}

}  // namespace kestrum
