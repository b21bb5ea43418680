// Times a full VDK-1 program-and-verify of the carried image against the simulated unit,
// through the real programming link and the serial-device factory, and counts the line
// operations it makes. By default the unit is in-process; with --rfc2217 it sits behind
// the simulator's network serial-port server on loopback, and the round trips (one per
// DSR read, as each must reflect the clock pulse before it) are counted too. The fixed
// waits are the real ones unless --no-waits is given (then the figure is the pure cost
// of the line operations).
//
// Usage: vdk_program_verify [--no-waits] [--rfc2217]

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/c_stopwatch.h"
#include "sim/rfc2217_server.h"
#include "sim/sim_port_registry.h"
#include "sim/vdk1_model.h"
#include "vdk/display_unit_run.h"

using namespace kestrum;

namespace {

constexpr int kPages = 256;
constexpr const char* kSimPortName = "sim:vdk1-bench";

int FixedWaitsMs(const VdkWaits& w)
{
    const int resetPulse = w.resetLowMs + w.resetSettleMs;
    return kPages * w.writePageMs + w.chipEraseMs + 2 * resetPulse + 2 * w.releaseMs;
}

bool HasFlag(int argc, char** argv, const char* flag)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], flag) == 0)
            return true;
    return false;
}

void PrintNetworkFigures(const Rfc2217Server& server, int beyond, uint64_t lineOperations)
{
    const uint64_t roundTrips = server.Counters().roundTrips.load();
    std::printf("  beyond the waits  %d ms\n", beyond);
    std::printf("  round trips       %llu (%.1f us each if they took all the time beyond the waits)\n",
                static_cast<unsigned long long>(roundTrips), roundTrips ? beyond * 1000.0 / roundTrips : 0.0);
    std::printf("  line changes      %llu applied by the server (%llu line operations by the link)\n",
                static_cast<unsigned long long>(server.Counters().lineChanges.load()),
                static_cast<unsigned long long>(lineOperations));
}

void PrintInProcessFigures(int beyond, uint64_t lineOperations)
{
    std::printf("  beyond the waits  %d ms (target: under 2000 ms)\n", beyond);
    std::printf("  line operations   %llu (%.0f ns each beyond the waits)\n",
                static_cast<unsigned long long>(lineOperations),
                lineOperations ? beyond * 1e6 / static_cast<double>(lineOperations) : 0.0);
}

}  // namespace

int main(int argc, char** argv)
{
    const bool noWaits = HasFlag(argc, argv, "--no-waits");
    const bool network = HasFlag(argc, argv, "--rfc2217");
    VdkWaits waits;
    if (noWaits)
        waits = VdkWaits{0, 0, 0, 0, 0};

    // With the real waits the unit may as well insist on its erase and write times.
    Vdk1Model::Options options;
    options.enforceBusyTimes = !noWaits;
    auto model = std::make_shared<Vdk1Model>(options);
    std::optional<Rfc2217Server> server;
    DisplayUnitRunRequest request;
    if (network) {
        Rfc2217Server::Options serverOptions;
        serverOptions.paced = false;
        server.emplace(model, serverOptions);
        std::string error;
        if (!server->Open(error)) {
            std::fprintf(stderr, "vdk_program_verify: %s\n", error.c_str());
            return 1;
        }
        server->Start();
        request.portName = server->Url();
    } else {
        RegisterSimBackend();
        RegisterSimPort(kSimPortName, model, SimSerialDevice::Options{false});
        request.portName = kSimPortName;
    }
    request.waits = waits;
    CStopwatch watch;
    const DisplayUnitRunOutcome outcome = RunDisplayUnitLoad(request);
    const uint32_t elapsed = watch.Elapsed();
    if (server)
        server->Stop();
    else
        UnregisterSimPort(kSimPortName);

    const int fixed = FixedWaitsMs(waits);
    const int beyond = static_cast<int>(elapsed) - fixed;
    std::printf("VDK-1 program and verify, %s%s\n",
                network ? ("over RFC 2217 on loopback (" + request.portName + ")").c_str() : "in-process simulator",
                noWaits ? ", waits off" : "");
#ifdef __OPTIMIZE__
    std::printf("  build             optimised\n");
#else
    std::printf("  build             NOT optimised: configure with -DCMAKE_BUILD_TYPE=Release for real figures\n");
#endif
    std::printf("  result            %s (%s)\n", outcome.success ? "ok" : "FAILED", outcome.message.c_str());
    std::printf("  unit reports      %s\n", model->ReportedFirmware().value_or("no firmware").c_str());
    std::printf("  wall time         %u ms\n", elapsed);
    std::printf("  fixed waits       %d ms\n", fixed);
    if (server)
        PrintNetworkFigures(*server, beyond, outcome.lineOperations);
    else
        PrintInProcessFigures(beyond, outcome.lineOperations);
    return outcome.success ? 0 : 1;
}
