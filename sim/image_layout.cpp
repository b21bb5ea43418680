#include "sim/image_layout.h"

#include <algorithm>

namespace kestrum {

using namespace image_layout;

namespace {

void PutBigEndian32(std::vector<uint8_t>& out, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void PutVersion(std::vector<uint8_t>& out, size_t offset, const std::string& version)
{
    std::copy_n(version.begin(), std::min(version.size(), kVersionLength), out.begin() + static_cast<long>(offset));
}

// Recognisable, non-constant filler, so a lost or doubled block changes the image.
void FillPayload(std::vector<uint8_t>& out, size_t from)
{
    for (size_t i = from; i < out.size(); ++i)
        out[i] = static_cast<uint8_t>((i * 7 + (i >> 8)) & 0xFF);
}

std::string VersionAt(const std::vector<uint8_t>& image, size_t offset)
{
    if (image.size() < offset + kVersionLength)
        return {};
    std::string text;
    for (size_t i = offset; i < offset + kVersionLength && image[i] != 0; ++i) {
        if (image[i] < 0x20 || image[i] > 0x7E)
            return {};
        text.push_back(static_cast<char>(image[i]));
    }
    return text;
}

}  // namespace

uint32_t ReadBigEndian32(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

std::vector<uint8_t> BuildRamImage(const RamImageSpec& wanted)
{
    std::vector<uint8_t> image(kRamHeaderLength + wanted.payloadLength, 0);
    PutBigEndian32(image, kRamLengthOffset, static_cast<uint32_t>(image.size()));
    PutBigEndian32(image, kRamFinalAckOffset, wanted.finalAck ? 1 : 0);
    PutBigEndian32(image, kRamDeviceIdOffset, static_cast<uint32_t>(wanted.deviceId));
    PutVersion(image, kRamVersionOffset, wanted.version);
    FillPayload(image, kRamHeaderLength);
    return image;
}

std::vector<uint8_t> BuildFlashImage(const FlashImageSpec& wanted)
{
    const size_t header = wanted.marked ? kFlashMarkedHeaderLength : kRamHeaderLength;
    std::vector<uint8_t> image(header + wanted.payloadLength, 0);
    if (wanted.marked) {
        std::fill_n(image.begin(), 4, 0xFF);
        image[kFlashMarkedIdOffset] = static_cast<uint8_t>(wanted.deviceId);
        PutVersion(image, kFlashMarkedVersionOffset, wanted.version);
    } else {
        image[kFlashPlainIdOffset] = static_cast<uint8_t>(wanted.deviceId);
        PutVersion(image, kFlashPlainVersionOffset, wanted.version);
    }
    FillPayload(image, header);
    return image;
}

std::string RamImageVersion(const std::vector<uint8_t>& image)
{
    return VersionAt(image, kRamVersionOffset);
}

std::string FlashImageVersion(const std::vector<uint8_t>& image)
{
    const bool marked = image.size() >= 4 && std::all_of(image.begin(), image.begin() + 4, [](uint8_t b) {
                            return b == 0xFF;
                        });
    return VersionAt(image, marked ? kFlashMarkedVersionOffset : kFlashPlainVersionOffset);
}

}  // namespace kestrum
