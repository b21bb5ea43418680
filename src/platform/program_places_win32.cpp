#include "platform/program_places.h"

#include <cstdlib>
#include <filesystem>

#include <windows.h>

namespace kestrum {

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string ExecutablePath()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return "";
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2); // cut off: try a larger buffer
    }
}

} // namespace

// A copy on a bench PC usually sits in a folder of its own, and keeps its settings there;
// under Program Files, which users may not write, they go to %APPDATA%\kestrum.
ProgramPlaces FindProgramPlaces()
{
    ProgramPlaces places;
    places.configHome = Environment("APPDATA");
    places.home = Environment("USERPROFILE");
    for (const char* tree : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"})
        if (std::string dir = Environment(tree); !dir.empty())
            places.installTrees.push_back(dir);
    const std::string program = ExecutablePath();
    if (!program.empty())
        places.programDir = std::filesystem::path(program).parent_path().string();
    return places;
}

} // namespace kestrum
