#include "cli/cli_config.h"

#include <algorithm>
#include <array>
#include <filesystem>

#include "app/port_list.h"

namespace kestrum {

namespace {

constexpr std::array<uint32_t, 14> kOfferedRates = {600,   1200,  2400,  4800,   9600,   14400,  19200,
                                                    28800, 38400, 57600, 115200, 153600, 230400, 460800};

bool IsRegularFile(const std::string& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
}

bool ParseSpeed(const std::string& text, uint32_t& speed)
{
    for (uint32_t rate : kOfferedRates) {
        if (text == std::to_string(rate)) {
            speed = rate;
            return true;
        }
    }
    return false;
}

// A stored capture method outside the list means power-on capture.
int StoredCapture(const CSettingsFile& stored, int deviceKind)
{
    static constexpr std::array<const char*, 3> kKeys = {"ResetRec", "ResetPWR", "ResetVDK"};
    static constexpr std::array<int, 3> kDefaults = {0, 0, 1};
    const auto kind = static_cast<size_t>(deviceKind);
    const int method = stored.GetInt("ProgramSettings", kKeys[kind], kDefaults[kind]);
    return method < 0 || method > 2 ? 0 : method;
}

// The most recent entry of a path history, or the program's default file name.
std::string StoredPath(const CSettingsFile& stored, const char* section, const char* fallback)
{
    const std::string path = stored.GetText(section, "Path01", "");
    return path.empty() ? fallback : path;
}

// A port named on the command line, as -p takes it.
bool ResolveNamedPort(const std::string& given, std::vector<std::string>& ports, std::string& name,
                      std::string& error)
{
    name = PortNameFromOption(given);
    if (AcceptNamedPort(ports, name))
        return true;
    error = "port " + name + " is not available (see kestrum-cli ports)";
    return false;
}

bool ResolvePort(const CommandLineOptions& options, const CSettingsFile& stored, std::vector<std::string>& ports,
                 CliConfig& config, std::string& error)
{
    if (!options.port.empty())
        return ResolveNamedPort(options.port, ports, config.portName, error);
    const std::string storedName = stored.GetText("PortSettings", "Name", "");
    config.portName = AcceptNamedPort(ports, storedName) ? storedName : DefaultPortName(ports);
    return true;
}

bool ResolveLine(const CommandLineOptions& options, const CSettingsFile& stored, CliConfig& config,
                 std::string& error)
{
    const int storedSpeed = stored.GetInt("PortSettings", "Speed", 115200);
    if (!ParseSpeed(std::to_string(storedSpeed), config.speed))
        config.speed = 115200;
    if (!options.speed.empty() && !ParseSpeed(options.speed, config.speed)) {
        error = "speed " + options.speed + " is not one of 600, 1200, ... 460800";
        return false;
    }
    const int storedHandshake = stored.GetInt("PortSettings", "Handshake", 0);
    config.handshake = storedHandshake == 1 ? 1 : 0;
    if (options.handshaking == "none" || options.handshaking == "rts")
        config.handshake = options.handshaking == "rts" ? 1 : 0;
    else if (!options.handshaking.empty()) {
        error = "handshaking mode must be none or rts, not " + options.handshaking;
        return false;
    }
    return true;
}

bool ResolveLoad(const CommandLineOptions& options, const CSettingsFile& stored, CliConfig& config,
                 std::string& error)
{
    const int storedKind = stored.GetInt("DeviceSettings", "Device_Type", 0);
    config.deviceKind = storedKind < 0 || storedKind > 2 ? 0 : storedKind;
    if (!options.device.empty() && (config.deviceKind = DeviceKindFromOption(options.device)) < 0) {
        error = "device must be rec, pbr or vdk1, not " + options.device;
        return false;
    }
    config.captureMethod = StoredCapture(stored, config.deviceKind);
    if (!options.captureMethod.empty() && (config.captureMethod = CaptureMethodFromOption(options.captureMethod)) < 0) {
        error = "capture method must be pwr, soft or hard, not " + options.captureMethod;
        return false;
    }
    config.softBreakVariant = stored.GetText("Test", "SoftwareBreak", "Reset") == "Sleep" ? 1 : 0;
    config.vdkLines = ReadVdkLineSettings(stored);
    if (config.deviceKind == 0) {
        config.ramPath = StoredPath(stored, "LoadPath_RAM", "ramimage.ldr");
        config.flashPath = StoredPath(stored, "LoadPath_Flash", "main.ldp");
    } else if (config.deviceKind == 1) {
        config.ramPath = StoredPath(stored, "LoadPath_Power", "powbrd.ldr");
    }
    if (!options.ramFile.empty())
        config.ramPath = options.ramFile;
    if (!options.flashFile.empty() && config.deviceKind == 0)
        config.flashPath = options.flashFile;
    return true;
}

}  // namespace

std::string FindSettingsFileReadOnly(const SettingsEnvironment& environment, std::string& warning)
{
    warning.clear();
    if (!environment.explicitPath.empty()) {
        const std::string& path = environment.explicitPath;
        std::string error;
        std::error_code missing;
        if (!std::filesystem::exists(path, missing) && !missing)
            error = path + " does not exist";
        else if (!CSettingsFile(path).CheckReadable(error))
            error = error.empty() ? "cannot read " + path : error;
        if (error.empty())
            return path;
        warning = "KESTRUM_INI: " + error + "; going on with the default settings";
        return "";
    }
    const std::string beside = BesideProgramPath(environment);
    if (!beside.empty() && IsRegularFile(beside))
        return beside;
    const std::string perUser = PerUserSettingsPath(environment);
    return IsRegularFile(perUser) ? perUser : "";
}

bool ResolveCliConfig(const CommandLineOptions& options, const CSettingsFile& stored, std::vector<std::string> ports,
                      CliConfig& config, std::string& error)
{
    return ResolvePort(options, stored, ports, config, error) && ResolveLine(options, stored, config, error) &&
           ResolveLoad(options, stored, config, error);
}

bool ResolveLoadPorts(const std::vector<std::string>& given, std::vector<std::string> ports,
                      CliConfig& config, std::string& error)
{
    config.portNames.clear();
    for (const std::string& word : given) {
        std::string name;
        if (!ResolveNamedPort(word, ports, name, error))
            return false;
        // A by-id link and its /dev/ttyUSBn are one port, under two names.
        const std::string earlier = ListedPortName(config.portNames, name);
        if (!earlier.empty()) {
            error =
                "port " + name + " is named twice" + (earlier == name ? "" : " (also as " + earlier + ")");
            return false;
        }
        config.portNames.push_back(name);
    }
    if (config.portNames.empty())
        config.portNames.push_back(config.portName);
    config.portName = config.portNames.front();
    return true;
}

}  // namespace kestrum
