#pragma once

#include <string>

#include "platform/platform_texts.h"

namespace kestrum {

// The program's names and version as its windows and files show them.
inline constexpr const char* kApplicationTitle = "Vexil Firmware Loader";
inline constexpr const char* kProgramName = "Kestrum";
inline constexpr const char* kVersionText = "1.0.07";
// The About box's product line: the title, and the system this build runs on.
inline const std::string kProductLine = std::string(kApplicationTitle) + "  for " + kPlatformName;

}  // namespace kestrum
