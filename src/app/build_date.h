#pragma once

#include <string>

namespace kestrum {

// The build date as shown to users: the compiler's "Feb 12 2002" becomes
// "February 12, 2002". A month that is not recognised keeps its three letters.
std::string FormatBuildDate(const std::string& compilerDate);

// This program's own build date, formatted.
std::string BuildDateText();

}  // namespace kestrum
