#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/c_settings_file.h"
#include "app/command_line_options.h"
#include "app/settings_location.h"
#include "vdk/vdk_line_settings.h"

namespace kestrum {

// Everything a kestrum-cli command works with: the options given, and for the omitted
// ones the values stored in kestrum.ini, else the program's defaults.
struct CliConfig {
    std::string portName;
    std::vector<std::string> portNames;  // load: every port to load, portName first
    uint32_t speed = 115200;
    int handshake = 0;     // 0 none, 1 RTS/CTS
    int deviceKind = 0;    // 0 receiver, 1 power board, 2 VDK-1
    std::string ramPath;
    std::string flashPath;
    int captureMethod = 0;
    int softBreakVariant = 0;
    VdkLineSettings vdkLines; // a VDK-1 run's way to the unit
};

// The settings file kestrum-cli reads, if there is one; it never creates or writes one.
// A file named by $KESTRUM_INI that cannot be used is not silently passed over: warning
// then says why, and the defaults apply.
std::string FindSettingsFileReadOnly(const SettingsEnvironment& environment, std::string& warning);

// Fills config from the stored settings (stored may have no path: defaults only) and the
// options. A value given on the command line that means nothing is an error here: a
// script must not load into the wrong port or device because of a typing mistake.
bool ResolveCliConfig(const CommandLineOptions& options, const CSettingsFile& stored,
                      std::vector<std::string> ports, CliConfig& config, std::string& error);

// The ports a load works on: each name given (as -p takes it), in the order given; with
// none given, the one ResolveCliConfig chose. A name that is not available or that names
// a port already in the list is an error.
bool ResolveLoadPorts(const std::vector<std::string>& given, std::vector<std::string> ports,
                      CliConfig& config, std::string& error);

}  // namespace kestrum
