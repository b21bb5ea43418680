#pragma once

#include <string>
#include <vector>

namespace kestrum {

// Where the running program and its user's files are, as the system tells; empty fields
// are not known.
struct ProgramPlaces {
    std::string programDir; // the directory of the running executable
    std::string configHome; // the per-user base of settings: $XDG_CONFIG_HOME, %APPDATA%
    std::string home;       // the user's home directory
    // Trees where installed programs live and stay read-only (/usr, /opt; Program Files).
    std::vector<std::string> installTrees;
};

ProgramPlaces FindProgramPlaces();

} // namespace kestrum
