#pragma once

#include <string>

namespace kestrum {

// A text as a JSON string literal, quotes and escapes included.
std::string JsonString(const std::string& text);
// The same, or null for an empty text: a value that is not known.
std::string JsonStringOrNull(const std::string& text);

} // namespace kestrum
