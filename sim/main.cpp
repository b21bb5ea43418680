// kestrum-sim: one simulated device on a pseudo-terminal, for demos, manual tests and
// benchmarks of the loader against something that behaves like the real devices.

#include "app/program_identity.h"
#include "sim/pty_server.h"
#include "sim/rfc2217_server.h"
#include "sim/sim_command_line.h"
#include "sim/wire_log_file.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

std::atomic<bool> stopRequested{false};

void OnStopSignal(int)
{
    stopRequested = true;
}

void CatchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// The URL goes on the first line, as the pseudo-terminal's path does.
int ServeRfc2217(const kestrum::SimCommandLine& line, std::shared_ptr<kestrum::DeviceModel> model)
{
    using namespace kestrum;
    Rfc2217Server server(std::move(model), {line.paced, line.rfc2217Bind, *line.rfc2217Port, line.rfc2217Delay,
                                            line.rfc2217SilentAfterOpen});
    std::string error;
    if (!server.Open(error)) {
        std::fprintf(stderr, "kestrum-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", server.Url().c_str());
    std::fflush(stdout);
    server.Serve(stopRequested);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace kestrum;
    SimCommandLine line;
    std::string error;
    if (!ParseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc), line, error)) {
        std::fprintf(stderr, "kestrum-sim: %s\n", error.c_str());
        return 2;
    }
    if (line.help) {
        std::fputs(SimHelpText().c_str(), stdout);
        return 0;
    }
    if (line.version) {
        std::printf("kestrum-sim %s\n", kVersionText);
        return 0;
    }
    if (!line.imageDirectory.empty()) {
        std::string report;
        if (!WriteDemoImages(line, report)) {
            std::fprintf(stderr, "kestrum-sim: %s\n", report.c_str());
            return 1;
        }
        std::fputs(report.c_str(), stdout);
        return 0;
    }
    CatchStopSignals();
    const std::shared_ptr<DeviceModel> model = MakeSimDevice(line);
    // Declared before the servers, so it writes the last events after they have stopped.
    WireLogFile wireLog;
    if (!line.wireLogPath.empty() && !wireLog.Start(line.wireLogPath, model, error)) {
        std::fprintf(stderr, "kestrum-sim: %s\n", error.c_str());
        return 1;
    }
    if (line.rfc2217Port)
        return ServeRfc2217(line, model);
    PtyServer server(model, line.paced, line.realTime);
    if (!server.Open(error)) {
        std::fprintf(stderr, "kestrum-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", server.PortPath().c_str());
    std::fflush(stdout);
    server.Serve(stopRequested);
    return 0;
}
