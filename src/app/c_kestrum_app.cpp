#include "app/c_kestrum_app.h"

#include "app/port_list.h"

namespace kestrum {

AppEnvironment AppEnvironment::FromProcess()
{
    return {SettingsEnvironment::FromProcess(), kTtyClassDir, kDeviceDir};
}

CKestrumApp::CKestrumApp() : settings_(std::make_unique<CSettingsFile>()) {}

bool CKestrumApp::Start(const std::vector<std::string>& arguments, std::string& error)
{
    return Start(arguments, AppEnvironment::FromProcess(), error);
}

bool CKestrumApp::Start(const std::vector<std::string>& arguments, const AppEnvironment& environment,
                        std::string& error)
{
    const SettingsLocation location = PrepareSettingsFile(environment.settings);
    if (!location.Found()) {
        error = location.error;
        return false;
    }
    settings_ = std::make_unique<CSettingsFile>(
        location.path, location.readOnly ? CSettingsFile::Access::ReadOnly : CSettingsFile::Access::ReadWrite);
    std::string readError;
    startWarning_.clear();
    if (!settings_->CheckReadable(readError))
        startWarning_ = readError + "; going on with the default settings";
    else if (location.readOnly)
        startWarning_ = "The settings file " + location.path + " is read-only: settings will not be saved";
    ports_ = BuildPortList(environment.ttyClassDir, environment.deviceDir);
    options_ = ParseCommandLine(arguments);
    // Names the list cannot discover (ptys, by-id links, network ports) become choosable
    // when the user names them; anything else is left for the Connection page to ignore.
    const std::string storedPort = settings_->GetText(kPortSection, kPortNameKey, "");
    if (!storedPort.empty()) {
        AcceptNamedPort(ports_, storedPort);
    }
    if (!options_.port.empty()) {
        AcceptNamedPort(ports_, options_.port);
    }
    portDetails_ = DescribePorts(ports_, environment.ttyClassDir, environment.deviceDir);
    error.clear();
    return true;
}

std::string CKestrumApp::DefaultPortName() const
{
    return kestrum::DefaultPortName(ports_);
}

void CKestrumApp::ReadSaveFlag()
{
    saveSettings_.store(settings_->GetInt(kActivateSection, kSaveSettingsKey, 1) != 0);
}

void CKestrumApp::BeginExit()
{
    settings_->HoldWrites();
}

bool CKestrumApp::ExitInstance()
{
    // A read-only file was announced at start; nothing is tried, so nothing more is said.
    if (settings_->ReadOnly())
        return true;
    const bool stored = settings_->WriteInt(kActivateSection, kSaveSettingsKey, saveSettings_.load() ? 1 : 0);
    return settings_->WriteHeld() && stored;
}

}  // namespace kestrum
