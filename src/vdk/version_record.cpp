#include "vdk/version_record.h"

#include <algorithm>

namespace kestrum {

namespace {

constexpr size_t kVersionOffsetInRecord = kVersionRecordMagic.size();
constexpr size_t kTerminatorOffset = kVersionOffsetInRecord + kFirmwareVersionLength;

}  // namespace

bool IsValidFirmwareVersion(std::string_view version)
{
    return version.size() == kFirmwareVersionLength && std::all_of(version.begin(), version.end(), [](char c) {
               return c >= 0x20 && c <= 0x7E && c != '@' && c != '#';
           });
}

bool WriteVersionRecord(std::span<uint8_t> image, std::string_view version)
{
    if (image.size() != kDisplayUnitImageSize || !IsValidFirmwareVersion(version))
        return false;
    auto record = image.subspan(kVersionRecordOffset, kVersionRecordSize);
    std::fill(record.begin(), record.end(), uint8_t{0xFF});
    std::copy(kVersionRecordMagic.begin(), kVersionRecordMagic.end(), record.begin());
    std::copy(version.begin(), version.end(), record.begin() + kVersionOffsetInRecord);
    record[kTerminatorOffset] = 0x00;
    return true;
}

std::optional<std::string> ReadVersionRecord(std::span<const uint8_t> image)
{
    if (image.size() != kDisplayUnitImageSize)
        return std::nullopt;
    auto record = image.subspan(kVersionRecordOffset, kVersionRecordSize);
    if (!std::equal(kVersionRecordMagic.begin(), kVersionRecordMagic.end(), record.begin()))
        return std::nullopt;
    if (record[kTerminatorOffset] != 0x00)
        return std::nullopt;
    std::string version(record.begin() + kVersionOffsetInRecord, record.begin() + kTerminatorOffset);
    if (!IsValidFirmwareVersion(version))
        return std::nullopt;
    return version;
}

}  // namespace kestrum
