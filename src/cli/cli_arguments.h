#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/command_line_options.h"
#include "vdk/vdk_line_settings.h"

namespace kestrum {

// kestrum-cli's words: a command, then the program's own option letters.
struct CliArguments {
    enum class Command { None, Load, Info, Ports, Help, Version };

    Command command = Command::None;
    CommandLineOptions options;  // -p -s -hs -d -r -f -c, parsed as the program parses them;
                                 // options.port is the first port
    std::vector<std::string> ports;  // every -p value, lists split at their commas
    bool json = false;               // info --json, ports --json, load --json
    std::string traceFile;           // --trace FILE, before the command or among the options
    std::optional<VdkLines> vdkLines; // --vdk-lines auto|bitbang|control (a VDK-1 run)
    std::string error;           // what was wrong with the words, for the user
};

// arguments[0] is the program.
CliArguments ParseCliArguments(const std::vector<std::string>& arguments);

std::string CliUsageText();

}  // namespace kestrum
