#include "app/settings_location.h"

#include <cstdlib>
#include <filesystem>

#include "platform/c_file.h"
#include "platform/program_places.h"

namespace kestrum {

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Opens the file for appending, which creates it empty when missing, and closes it
// again. Empty result on success, otherwise the reason.
std::string CreateIfMissing(const std::string& path)
{
    CFile file;
    if (!file.Open(path, CFile::Access::AppendCreate)) {
        return path + ": " + file.ErrorText();
    }
    return file.GetKind() == CFile::Kind::Regular ? "" : path + ": not a regular file";
}

// A regular file the user lets us read but not write: no write permission for anyone
// (respected even by root, who could write it), none for us, or a read-only file system.
bool ReadableButNotWritable(const std::string& path)
{
    CFile file;
    if (!file.Open(path, CFile::Access::Read) || file.GetKind() != CFile::Kind::Regular)
        return false;
    return CFile::WriteProtected(path) || !CFile::Writable(path);
}

// The settings file at path, created when missing; a read-only one is taken as it is.
SettingsLocation Claim(const std::string& path, std::string& reason)
{
    if (ReadableButNotWritable(path))
        return {path, "", true};
    reason = CreateIfMissing(path);
    return reason.empty() ? SettingsLocation{path, "", false} : SettingsLocation{};
}

std::string ConfigBase(const SettingsEnvironment& environment)
{
    if (!environment.configHome.empty() && std::filesystem::path(environment.configHome).is_absolute()) {
        return environment.configHome;
    }
    if (!environment.home.empty()) {
        return environment.home + "/.config";
    }
    return "";
}

// The per-user place; its directory is created as needed.
SettingsLocation TryConfigDirectory(const SettingsEnvironment& environment, std::string& reason)
{
    const std::string base = ConfigBase(environment);
    if (base.empty()) {
        reason = "no home directory or XDG_CONFIG_HOME is known";
        return {};
    }
    const std::filesystem::path dir = std::filesystem::path(base) / "kestrum";
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    const std::string path = (dir / kSettingsFileName).string();
    if (error) {
        reason = dir.string() + ": " + error.message();
        return {};
    }
    return Claim(path, reason);
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
    ProgramPlaces places = FindProgramPlaces();
    SettingsEnvironment environment;
    environment.explicitPath = Environment("KESTRUM_INI");
    environment.programDir = std::move(places.programDir);
    environment.configHome = std::move(places.configHome);
    environment.home = std::move(places.home);
    environment.installTrees = std::move(places.installTrees);
    return environment;
}

std::string PerUserSettingsPath(const SettingsEnvironment& environment)
{
    const std::string base = ConfigBase(environment);
    return base.empty() ? "" : (std::filesystem::path(base) / "kestrum" / kSettingsFileName).string();
}

SettingsLocation PrepareSettingsFile(const SettingsEnvironment& environment)
{
    if (!environment.explicitPath.empty()) {
        // Made absolute now, so later changes of the working directory cannot move it.
        std::error_code error;
        const auto absolute = std::filesystem::absolute(environment.explicitPath, error);
        const std::string path = error ? environment.explicitPath : absolute.string();
        std::string reason;
        if (SettingsLocation location = Claim(path, reason); location.Found()) {
            return location;
        }
        return {"", "Cannot use the settings file named by KESTRUM_INI: " + reason};
    }
    std::string reasons;
    if (const std::string path = BesideProgramPath(environment); !path.empty()) {
        std::string reason;
        if (SettingsLocation location = Claim(path, reason); location.Found()) {
            return location;
        }
        reasons = reason + "; ";
    }
    std::string reason;
    if (SettingsLocation location = TryConfigDirectory(environment, reason); location.Found()) {
        return location;
    }
    return {"", "Cannot create the settings file " + std::string(kSettingsFileName) + ": " + reasons + reason};
}

SettingsLocation PrepareSettingsFile()
{
    return PrepareSettingsFile(SettingsEnvironment::FromProcess());
}

}  // namespace kestrum
