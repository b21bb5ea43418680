#pragma once

#include "loader/block_sender.h"
#include "loader/c_image_file.h"
#include "loader/c_load_line.h"

namespace kestrum {

// Feeds the Flash image to the block sender in 512-byte pieces, testing the cancel event
// before each piece. On a cancel, userAbort is set.
bool SendFlashImage(CLoadLine& line, CImageFile& image, BlockSender& sender, bool& userAbort);

}  // namespace kestrum
