// kestrum-cli: loads firmware and reads device information without a display.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/port_details.h"
#include "app/port_list.h"
#include "app/program_identity.h"
#include "app/trace_request.h"
#include "cli/c_interrupt_watcher.h"
#include "cli/cli_arguments.h"
#include "cli/cli_commands.h"
#include "cli/cli_config.h"
#include "cli/json_text.h"
#include "platform/c_wire_trace.h"
#include "platform/console.h"

using namespace kestrum;

namespace {

// A mistake in the command line: said on stderr (with the usage when the words were
// wrong), and under --json also as an object on stdout, so a script reading it is told.
int CommandLineMistake(const std::string& error, bool json, bool withUsage)
{
    std::fprintf(stderr, "kestrum-cli: %s\n%s", error.c_str(), withUsage ? ("\n" + CliUsageText()).c_str() : "");
    if (json)
        std::printf("{\"error\": %s, \"exitStatus\": %d}\n", JsonString(error).c_str(), kExitUsage);
    return kExitUsage;
}

// The end waits for the trace's writer a bounded time. The result is out before it, and
// Ctrl-C meanwhile ends the program at once, still with the command's status.
void EndTrace(int status)
{
    std::fflush(stdout);
    std::fflush(stderr);
    InterruptGiveUp giveUp;
    giveUp.status = status;
    giveUp.afterMs = 0;
    giveUp.note = "kestrum-cli: stopped waiting for the trace; it is incomplete\n";
    const CInterruptWatcher interrupts(nullptr, giveUp);
    if (!CWireTrace::End())
        std::fprintf(stderr, "kestrum-cli: the trace could not be written completely\n");
}

// --trace FILE, or else KESTRUM_TRACE=FILE: every byte on the line of the command goes
// to FILE, which must not be one of the load's images.
int Traced(const CliArguments& parsed, const std::vector<std::string>& arguments,
           const std::vector<std::string>& images, const std::function<int()>& command)
{
    if (std::string error; !StartRequestedTrace(parsed.traceFile, arguments, error, images))
        return CommandLineMistake(error, parsed.json, false);
    const int status = command();
    EndTrace(status);
    return status;
}

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
    if (!parsed.error.empty())
        return CommandLineMistake(parsed.error, parsed.json, true);
    std::vector<std::string> ports = BuildPortList();
    if (parsed.command == CliArguments::Command::Ports)
        return Traced(parsed, arguments, {}, [&] { return RunPortsCommand(DescribePorts(ports), parsed.json, stdout); });

    std::string warning;
    CSettingsFile stored(FindSettingsFileReadOnly(SettingsEnvironment::FromProcess(), warning));
    if (!warning.empty())
        std::fprintf(stderr, "kestrum-cli: %s\n", warning.c_str());
    CliConfig config;
    std::string error;
    const bool load = parsed.command == CliArguments::Command::Load;
    if (!ResolveCliConfig(parsed.options, stored, ports, config, error) ||
        (load && !ResolveLoadPorts(parsed.ports, ports, config, error)))
        return CommandLineMistake(error, parsed.json, false);
    if (parsed.vdkLines)
        config.vdkLines.lines = *parsed.vdkLines;
    const std::vector<std::string> images = load ? std::vector<std::string>{config.ramPath, config.flashPath}
                                                 : std::vector<std::string>{};
    return Traced(parsed, arguments, images, [&] {
        return load ? RunLoadCommand(config, stored, parsed.json, stdout, stderr)
                    : RunInfoCommand(config, stored, parsed.json, stdout, stderr);
    });
}
