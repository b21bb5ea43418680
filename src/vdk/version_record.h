#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestrum {

// The VDK-1 Flash holds 65536 bytes; image byte n is Flash byte n.
constexpr size_t kDisplayUnitImageSize = 65536;

// Where a VDK-1 firmware image says which version it is: 16 bytes at the top of Flash,
// clear of the code that grows upwards from address 0.
//   offset 0..3   magic "VDKF"
//   offset 4..8   firmware version, 5 printable ASCII characters (what the unit reports)
//   offset 9      0x00
//   offset 10..15 0xFF (unused)
constexpr size_t kVersionRecordOffset = 0xFFF0;
constexpr size_t kVersionRecordSize = 16;
constexpr size_t kFirmwareVersionLength = 5;
constexpr std::string_view kVersionRecordMagic = "VDKF";

// true when version is 5 printable ASCII characters other than '@' and '#', which would
// confuse the unit's frame protocol.
bool IsValidFirmwareVersion(std::string_view version);

// Writes the record into a 65536-byte image; false (image unchanged) for another size
// or an invalid version.
bool WriteVersionRecord(std::span<uint8_t> image, std::string_view version);

// The version of a 65536-byte image, or nothing when it carries no valid record.
std::optional<std::string> ReadVersionRecord(std::span<const uint8_t> image);

}  // namespace kestrum
