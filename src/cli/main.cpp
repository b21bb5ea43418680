// kestrum-cli: loads firmware and reads device information without a display.
#include <cstdio>
#include <string>
#include <vector>

#include "app/port_details.h"
#include "app/port_list.h"
#include "app/program_identity.h"
#include "app/trace_request.h"
#include "cli/cli_arguments.h"
#include "cli/cli_commands.h"
#include "cli/cli_config.h"
#include "platform/c_wire_trace.h"
#include "platform/console.h"

using namespace kestrum;

namespace {

// Writes the rest of the trace on every way out of main.
struct TraceEnd {
    ~TraceEnd()
    {
        if (!CWireTrace::End())
            std::fprintf(stderr, "kestrum-cli: the trace could not be written completely\n");
    }
};

}  // namespace

int main(int argc, char** argv)
{
    // Only Ctrl-C and SIGTERM stop a load: a closed output pipe or a hung-up terminal must
    // not leave a device half-programmed. Output that cannot be written is dropped, and the
    // exit status still tells the result.
    KeepRunningWithoutOutput();
    const std::vector<std::string> arguments(argv, argv + argc);
    const CliArguments parsed = ParseCliArguments(arguments);
    if (parsed.command == CliArguments::Command::Help) {
        std::fputs(CliUsageText().c_str(), stdout);
        return 0;
    }
    if (parsed.command == CliArguments::Command::Version) {
        std::printf("kestrum-cli %s\n", kVersionText);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "kestrum-cli: %s\n\n%s", parsed.error.c_str(), CliUsageText().c_str());
        return kExitUsage;
    }
    // --trace FILE, or else KESTRUM_TRACE=FILE: every byte on the line goes to FILE.
    const TraceEnd traceEnd;
    if (std::string error; !StartRequestedTrace(parsed.traceFile, arguments, error)) {
        std::fprintf(stderr, "kestrum-cli: %s\n", error.c_str());
        return kExitUsage;
    }
    std::vector<std::string> ports = BuildPortList();
    if (parsed.command == CliArguments::Command::Ports)
        return RunPortsCommand(DescribePorts(ports), parsed.json, stdout);

    std::string warning;
    CSettingsFile stored(FindSettingsFileReadOnly(SettingsEnvironment::FromProcess(), warning));
    if (!warning.empty())
        std::fprintf(stderr, "kestrum-cli: %s\n", warning.c_str());
    CliConfig config;
    std::string error;
    if (!ResolveCliConfig(parsed.options, stored, ports, config, error)) {
        std::fprintf(stderr, "kestrum-cli: %s\n", error.c_str());
        return kExitUsage;
    }
    if (parsed.vdkLines)
        config.vdkLines.lines = *parsed.vdkLines;
    if (parsed.command == CliArguments::Command::Info)
        return RunInfoCommand(config, stored, parsed.json, stdout, stderr);
    if (!ResolveLoadPorts(parsed.ports, ports, config, error)) {
        std::fprintf(stderr, "kestrum-cli: %s\n", error.c_str());
        return kExitUsage;
    }
    return RunLoadCommand(config, stored, parsed.json, stdout, stderr);
}
