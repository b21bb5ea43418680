#pragma once

#include <string>

namespace kestrum {

// text as a JSON string, quotes included: quotes, backslashes and control characters
// escaped.
std::string JsonString(const std::string& text);

} // namespace kestrum
