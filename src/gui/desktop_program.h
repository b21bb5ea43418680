#pragma once

#include <string>
#include <vector>

#include "app/c_kestrum_app.h"

namespace kestrum {

// The desktop program from start to end, inside a running QApplication: the settings
// file (or the reason there is none, on stderr, and status 1), the help dialog alone
// when a help word comes first, otherwise the main window until it closes; the flag
// "Save Settings on Exit" is stored last. Returns the exit status.
int RunDesktopProgram(const std::vector<std::string>& arguments, const AppEnvironment& environment);

}  // namespace kestrum
