#pragma once

namespace kestrum {

// The program's names and version as its windows and files show them.
inline constexpr const char* kApplicationTitle = "Vexil Firmware Loader";
inline constexpr const char* kProgramName = "Kestrum";
inline constexpr const char* kVersionText = "1.0.07";

}  // namespace kestrum
