#include "app/settings_location.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrum {

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string HomeDirectory()
{
    std::string home = Environment("HOME");
    if (!home.empty()) {
        return home;
    }
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
        home = found->pw_dir;
    }
    return home;
}

// Opens the file for appending, which creates it empty when missing, and closes it
// again. Empty result on success, otherwise the reason.
std::string CreateIfMissing(const std::string& path)
{
    // Non-blocking, so a FIFO at the path fails the type check instead of hanging.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        return path + ": " + std::strerror(errno);
    }
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular ? "" : path + ": not a regular file";
}

std::string ConfigBase(const SettingsEnvironment& environment)
{
    if (!environment.configHome.empty() && environment.configHome.front() == '/') {
        return environment.configHome;
    }
    if (!environment.home.empty()) {
        return environment.home + "/.config";
    }
    return "";
}

// The per-user place; its directory is created as needed.
std::string TryConfigDirectory(const SettingsEnvironment& environment, std::string& path)
{
    const std::string base = ConfigBase(environment);
    if (base.empty()) {
        return "no home directory or XDG_CONFIG_HOME is known";
    }
    const std::filesystem::path dir = std::filesystem::path(base) / "kestrum";
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    path = (dir / kSettingsFileName).string();
    if (error) {
        return dir.string() + ": " + error.message();
    }
    return CreateIfMissing(path);
}

bool IsInside(const std::filesystem::path& dir, const std::string& tree)
{
    const std::filesystem::path normalTree = std::filesystem::path(tree).lexically_normal();
    const std::filesystem::path relative = dir.lexically_normal().lexically_relative(normalTree);
    return !tree.empty() && !relative.empty() && *relative.begin() != "..";
}

}  // namespace

std::string BesideProgramPath(const SettingsEnvironment& environment)
{
    if (environment.programDir.empty())
        return "";
    const std::filesystem::path dir(environment.programDir);
    for (const std::string& tree : environment.installTrees) {
        if (IsInside(dir, tree))
            return "";
    }
    return (dir / kSettingsFileName).string();
}

SettingsEnvironment SettingsEnvironment::FromProcess()
{
    SettingsEnvironment environment;
    environment.explicitPath = Environment("KESTRUM_INI");
    environment.configHome = Environment("XDG_CONFIG_HOME");
    environment.home = HomeDirectory();
    environment.installTrees = {"/usr", "/opt"};
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        environment.programDir = program.parent_path().string();
    }
    return environment;
}

SettingsLocation PrepareSettingsFile(const SettingsEnvironment& environment)
{
    if (!environment.explicitPath.empty()) {
        // Made absolute now, so later changes of the working directory cannot move it.
        std::error_code error;
        const auto absolute = std::filesystem::absolute(environment.explicitPath, error);
        const std::string path = error ? environment.explicitPath : absolute.string();
        const std::string reason = CreateIfMissing(path);
        if (reason.empty()) {
            return {path, ""};
        }
        return {"", "Cannot use the settings file named by KESTRUM_INI: " + reason};
    }
    std::string reasons;
    if (const std::string path = BesideProgramPath(environment); !path.empty()) {
        const std::string reason = CreateIfMissing(path);
        if (reason.empty()) {
            return {path, ""};
        }
        reasons = reason + "; ";
    }
    std::string path;
    const std::string reason = TryConfigDirectory(environment, path);
    if (reason.empty()) {
        return {path, ""};
    }
    return {"", "Cannot create the settings file " + std::string(kSettingsFileName) + ": " + reasons + reason};
}

SettingsLocation PrepareSettingsFile()
{
    return PrepareSettingsFile(SettingsEnvironment::FromProcess());
}

}  // namespace kestrum
