#pragma once

#include <string>
#include <string_view>

namespace kestrum {

// The device kinds the program knows, numbered as the Device page lists them.
enum class DeviceKind : int { Receiver = 0, PowerBoard = 1, DisplayUnit = 2 };

// Name as the Device page shows it: "Receiver", "Receiver's Power Board", "VDK-1".
std::string_view DeviceKindName(DeviceKind kind);

inline constexpr std::string_view kModelLabel = "Model:";
inline constexpr std::string_view kIdLabel = "ID:";
inline constexpr std::string_view kFirmwareLabel = "Firmware:";
inline constexpr std::string_view kHardwareLabel = "Hardware:";
inline constexpr std::string_view kRamSizeLabel = "RAM Size, KB:";

// What a device query learnt: the five values and the text of the "Device Information"
// box. A value keeps its text until a later query clears it.
struct DeviceInfo {
    std::string model;
    std::string id;
    std::string firmware;
    std::string hardware;
    std::string ramSize;
    std::string text;

    void ClearAll();
    void ClearVersions();  // firmware and hardware only
};

// The box while a query runs: the labels alone.
std::string ReceiverLabelsText();
std::string VersionLabelsText();  // power board and VDK-1

// The box after a query: one "label<tabs>value" line per value.
std::string ReceiverInfoText(const DeviceInfo& info);
std::string VersionInfoText(const DeviceInfo& info);  // power board and VDK-1

// Removes leading space characters; anything else, and trailing blanks, stay.
void TrimLeadingBlanks(std::string& value);

}  // namespace kestrum
