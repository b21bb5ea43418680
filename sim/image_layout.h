#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrum {

// How the simulated devices read the images they are sent (see sim/README.md). The loader
// reads only the final-acknowledge flag and the device identifiers; the rest is the
// devices' own convention, which the demo images follow.
//
// RAM image (".ldr"), big-endian words:
//   0  image length in bytes, this word included: the boot loader's only way to know where
//      the image ends and the checksum begins
//   4  reserved (0)
//   8  final-acknowledge flag
//   12 reserved (0)
//   16 target device identifier, signed (-1: any device)
//   20 firmware version, 16 bytes of text padded with NUL (a power-board image's version)
//   36 payload
// Flash image (".ldp"):
//   0  FF FF FF FF
//   4  device identifier
//   5  reserved (0 0 0)
//   8  firmware version, 16 bytes of text padded with NUL
//   24 payload
// A Flash image that does not start with FF FF FF FF has its identifier at 19 and its
// version at 20, where a RAM image keeps them.
namespace image_layout {

constexpr size_t kRamLengthOffset = 0;
constexpr size_t kRamFinalAckOffset = 8;
constexpr size_t kRamDeviceIdOffset = 16;
constexpr size_t kRamVersionOffset = 20;
constexpr size_t kRamHeaderLength = 36;
constexpr size_t kRamMinimumLength = 20;  // up to the fields the loader reads

constexpr size_t kFlashMarkedIdOffset = 4;
constexpr size_t kFlashMarkedVersionOffset = 8;
constexpr size_t kFlashMarkedHeaderLength = 24;
constexpr size_t kFlashPlainIdOffset = 19;
constexpr size_t kFlashPlainVersionOffset = 20;

constexpr size_t kVersionLength = 16;

}  // namespace image_layout

struct RamImageSpec {
    bool finalAck = true;
    int32_t deviceId = -1;
    std::string version;      // at most 16 characters are kept
    size_t payloadLength = 0; // filled with a fixed pattern
};

struct FlashImageSpec {
    int deviceId = 20;        // 0..255
    std::string version;
    size_t payloadLength = 0;
    bool marked = true;       // FF FF FF FF layout; otherwise identifier at 19, version at 20
};

std::vector<uint8_t> BuildRamImage(const RamImageSpec& wanted);
std::vector<uint8_t> BuildFlashImage(const FlashImageSpec& wanted);

// The version text an image carries; empty when the field is missing or not text.
std::string RamImageVersion(const std::vector<uint8_t>& image);
std::string FlashImageVersion(const std::vector<uint8_t>& image);

uint32_t ReadBigEndian32(const uint8_t* bytes);

}  // namespace kestrum
