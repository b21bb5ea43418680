#pragma once

#include <string>

namespace kestrum {

// The system's own words for a Windows error code (FormatMessage), without the line end;
// "error N" when the system has none.
std::string SystemErrorText(unsigned long code);

} // namespace kestrum
