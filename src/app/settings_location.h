#pragma once

#include <string>
#include <vector>

namespace kestrum {

inline constexpr const char* kSettingsFileName = "kestrum.ini";

// Where the settings file may live, as the process sees it. Tests build their own.
struct SettingsEnvironment {
    std::string explicitPath;  // $KESTRUM_INI: when set, the only place tried
    std::string programDir;    // the directory of the running executable
    std::string configHome;    // $XDG_CONFIG_HOME or %APPDATA% (ignored unless absolute)
    std::string home;          // the user's home directory
    // Trees where installed programs live (/usr, /opt; Program Files), which stay
    // read-only: a program directory inside one is never written, not even by root.
    std::vector<std::string> installTrees = {};

    static SettingsEnvironment FromProcess();
};

// The settings file found at start-up, or why there is none.
struct SettingsLocation {
    std::string path;        // empty when no place could be had
    std::string error;       // the reason, for the user, when path is empty
    bool readOnly = false;   // a file that may be read but not written: used, never saved

    bool Found() const { return !path.empty(); }
};

// kestrum.ini beside the executable, or empty for a copy without a known directory or
// one installed in an install tree, whose settings are the user's own.
std::string BesideProgramPath(const SettingsEnvironment& environment);

// Finds the settings file and creates it empty where it is missing: $KESTRUM_INI when
// set; otherwise kestrum.ini beside the executable (unless installed) when it exists or
// can be created there; otherwise $XDG_CONFIG_HOME/kestrum/kestrum.ini (default
// ~/.config/...), creating the directory, so a copy installed in a read-only directory
// still keeps its settings. An existing file that can be read but not written (mode 444,
// another user's, a read-only mount) is used as it stands, marked readOnly.
SettingsLocation PrepareSettingsFile(const SettingsEnvironment& environment);
SettingsLocation PrepareSettingsFile();

// The per-user place: configHome/kestrum/kestrum.ini (home/.config/... without an
// absolute configHome); empty when neither is known.
std::string PerUserSettingsPath(const SettingsEnvironment& environment);

}  // namespace kestrum
