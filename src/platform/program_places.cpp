#include "platform/program_places.h"

#include <cstdlib>
#include <filesystem>

#include <pwd.h>
#include <unistd.h>

namespace kestrum {

namespace {

constexpr size_t kPasswdBufferSize = 16384;

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string HomeDirectory()
{
    std::string home = Environment("HOME");
    if (!home.empty())
        return home;
    std::vector<char> buffer(kPasswdBufferSize);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        home = found->pw_dir;
    return home;
}

} // namespace

ProgramPlaces FindProgramPlaces()
{
    ProgramPlaces places;
    places.configHome = Environment("XDG_CONFIG_HOME");
    places.home = HomeDirectory();
    places.installTrees = {"/usr", "/opt"};
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        places.programDir = program.parent_path().string();
    return places;
}

} // namespace kestrum
