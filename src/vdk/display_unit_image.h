#pragma once

#include <cstdint>
#include <span>

#include "vdk/version_record.h"

namespace kestrum {

// The firmware image the program carries for the VDK-1, compiled in at build time
// (tools/vdk_image_gen.cpp writes its source): generated, or a chosen file embedded.
std::span<const uint8_t, kDisplayUnitImageSize> DisplayUnitImage();

}  // namespace kestrum
