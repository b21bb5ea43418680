#pragma once

#include <cstdint>
#include <string>

#include "loader/c_image_file.h"

namespace kestrum {

// The header fields the loader reads from its images; the rest of an image is opaque.

// The bytes the header rules read: the RAM header's fields end at 20, and the Flash
// identifier may sit at offset 19. A shorter image cannot say what it is for.
constexpr long kRamHeaderSize = 20;
constexpr long kFlashHeaderSize = 20;

struct RamHeader {
    uint32_t finalAcknowledge = 0;  // non-zero: the device sends 0x1E after the Flash image
    int32_t targetDevice = -1;      // negative: any device
};

enum class ImageKind { Ram, Flash };

// Opens an image for a load and refuses one too short for its header, so that nothing is
// sent of a file that cannot be an image. false with the status text in problem.
bool OpenImage(ImageKind kind, const std::string& path, CImageFile& image, std::string& problem);

// Reads the RAM header and puts the file back where it was. A file shorter than the
// header cannot say what it is for, so it is refused: false, with the reason in problem.
bool ReadRamHeader(CImageFile& image, RamHeader& header, std::string& problem);

// The Flash image's device identifier (0..255), -1 when the file is too short for it.
// Reads from the start of the file; the caller keeps its own position.
int ReadFlashIdentifier(CImageFile& image);

// Whether an image made for imageId may be loaded into deviceId of the device kind
// (0 receiver, 1 receiver's power board).
bool ImageFits(ImageKind kind, int imageId, int deviceId, int deviceKind);

}  // namespace kestrum
