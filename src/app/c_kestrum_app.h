#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/c_settings_file.h"
#include "app/command_line_options.h"
#include "app/port_details.h"
#include "app/settings_location.h"

namespace kestrum {

// Where start-up looks for its settings file and its ports. Tests build their own.
struct AppEnvironment {
    SettingsEnvironment settings;
    std::string ttyClassDir;
    std::string deviceDir;

    static AppEnvironment FromProcess();
};

// The application's own state without any window: the settings file, the port list,
// the command-line options and the "Save Settings on Exit" flag. The desktop program
// and the command-line program both start through it; whoever owns a display decides
// between the help screen (HelpOnly) and the main window.
class CKestrumApp {
public:
    static constexpr const char* kActivateSection = "Activate";
    static constexpr const char* kSaveSettingsKey = "SaveSett";
    static constexpr const char* kPortSection = "PortSettings";
    static constexpr const char* kPortNameKey = "Name";

    CKestrumApp();
    CKestrumApp(const CKestrumApp&) = delete;
    CKestrumApp& operator=(const CKestrumApp&) = delete;

    // Start-up before any window: locates (and if need be creates) the settings file,
    // lists the ports, parses the arguments (the first is the program), and adds to the
    // port list a device path or URL named by -p or stored as the port name. False, with
    // the reason in error, when no settings file can be had: the program must then say
    // so and end with a failure status. Called once, before other threads use the object.
    bool Start(const std::vector<std::string>& arguments, std::string& error);
    bool Start(const std::vector<std::string>& arguments, const AppEnvironment& environment,
               std::string& error);

    // Why the settings file found cannot be read (too large, unreadable), so that the
    // defaults apply, or that it is read-only and will not be saved; empty otherwise. The
    // desktop program says so once, on stderr and in the status line.
    const std::string& StartWarning() const { return startWarning_; }

    // The run is only to show the command-line help.
    bool HelpOnly() const { return options_.hasArguments && options_.helpRequested; }

    CSettingsFile& Settings() { return *settings_; }
    const std::vector<std::string>& PortList() const { return ports_; }
    // What the system tells of each port of the list, in its order.
    const std::vector<PortDetails>& PortDescriptions() const { return portDetails_; }
    const CommandLineOptions& Options() const { return options_; }
    std::string DefaultPortName() const;

    // Takes the stored flag, on when none is stored. Called once the main window exists.
    void ReadSaveFlag();
    bool SaveSettingsOnExit() const { return saveSettings_.load(); }
    void SetSaveSettingsOnExit(bool on) { saveSettings_.store(on); }
    // The main window is about to go: from now on the owners' writes (pages, window
    // position) are collected for ExitInstance.
    void BeginExit();
    // Stores the flag, on or off, so the choice itself always persists, together with
    // everything collected since BeginExit, in one rewrite of the file. Writes nothing for
    // a read-only file. False when the write failed (Settings().LastWriteError() tells why).
    bool ExitInstance();

private:
    std::unique_ptr<CSettingsFile> settings_;
    std::vector<std::string> ports_;
    std::vector<PortDetails> portDetails_;
    CommandLineOptions options_;
    std::string startWarning_;
    std::atomic<bool> saveSettings_{true};
};

}  // namespace kestrum
