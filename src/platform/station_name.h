#pragma once

#include <string>

namespace kestrum {

// The name of this computer, which a production record gives as its station; empty when
// the system does not tell.
std::string StationName();

}  // namespace kestrum
