// Times a full VDK-1 program-and-verify of the carried image against the simulated unit,
// through the real programming link and the serial-device factory, and counts the line
// operations it makes. By default the unit is in-process; with --rfc2217 it sits behind
// the simulator's network serial-port server on loopback, and the questions (one per DSR
// read, as each must reflect the clock pulse before it, sent ahead in batches) are
// counted too; --delay MS makes the server add MS milliseconds to every round trip, as a
// slower network would. The fixed waits are the real ones unless --no-waits is given
// (then the figure is the pure cost of the line operations).
//
// Then it projects the run onto USB adapters: through any adapter's control lines, where
// each line operation is a USB control transfer of about 1 ms; and through an FTDI
// adapter's synchronous bit-bang mode, where each line change is one pin state at the
// chip's bit-bang rate, plus the unit's real waits. The bit-bang run is made too, through
// the simulated FT232R paced at that rate with the real waits (with --no-waits unpaced and
// without them, as a quick check that it works).
//
// Usage: vdk_program_verify [--no-waits] [--rfc2217 [--delay MS]]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/c_bit_bang_lines.h"
#include "platform/c_stopwatch.h"
#include "sim/ft232r_model.h"
#include "sim/rfc2217_server.h"
#include "sim/sim_bit_bang_port.h"
#include "sim/sim_port_registry.h"
#include "sim/vdk1_model.h"
#include "vdk/display_unit_run.h"

using namespace kestrum;

namespace {

constexpr int kPages = 256;
constexpr const char* kSimPortName = "sim:vdk1-bench";
// What a run with the real waits should take at most over the network: on loopback, and
// with 1 ms added to every round trip.
constexpr int kLoopbackTargetMs = 25000;
constexpr int kDelayedTargetMs = 60000;
// A line operation through a USB adapter's serial driver: one USB control transfer.
constexpr double kUsbLineOperationSeconds = 0.001;
constexpr double kBitBangGoalSeconds = 60;
constexpr const char* kBitBangPortName = "sim:vdk1-bench-ft232r";

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

// The round trip the server adds, from --delay MS (fractions allowed).
std::chrono::microseconds DelayOption(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--delay") == 0)
            return std::chrono::microseconds(static_cast<int64_t>(std::atof(argv[i + 1]) * 1000.0));
    return std::chrono::microseconds(0);
}

void PrintNetworkFigures(const Rfc2217Server& server, int beyond, uint64_t lineOperations)
{
    const uint64_t questions = server.Counters().roundTrips.load();
    std::printf("  beyond the waits  %d ms\n", beyond);
    std::printf(
        "  questions         %llu answered (%.1f us each if they took all the time beyond the waits)\n",
        static_cast<unsigned long long>(questions), questions ? beyond * 1000.0 / questions : 0.0);
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

struct BitBangRun {
    DisplayUnitRunOutcome outcome;
    uint32_t elapsedMs = 0;
    std::string unitReports;
};

// The same run through the simulated FT232R's bit-bang mode at the default rate.
BitBangRun RunThroughTheModel(const VdkWaits& waits, bool real)
{
    Vdk1Model::Options options;
    options.enforceBusyTimes = real;
    auto unit = std::make_shared<Vdk1Model>(options);
    Ft232rModel::Options chip;
    chip.paced = real;
    auto adapter = std::make_shared<Ft232rModel>(unit, chip);
    RegisterSimBackend();
    RegisterSimPort(kBitBangPortName, unit, SimSerialDevice::Options{false});
    DisplayUnitRunRequest request;
    request.portName = kBitBangPortName;
    request.waits = waits;
    request.lines.lines = VdkLines::BitBang;
    request.describePort = [&chip](const std::string& port) {
        PortDetails details;
        details.path = port;
        details.vendorId = "0403";
        details.deviceRelease = "0600";
        details.busNumber = chip.location.bus;
        details.deviceAddress = chip.location.address;
        details.interfaceNumber = chip.location.interfaceNumber;
        return details;
    };
    request.bitBangPort = [adapter] { return std::make_unique<SimBitBangPort>(adapter); };
    BitBangRun run;
    CStopwatch watch;
    run.outcome = RunDisplayUnitLoad(request);
    run.elapsedMs = watch.Elapsed();
    run.unitReports = unit->ReportedFirmware().value_or("no firmware");
    UnregisterSimPort(kBitBangPortName);
    return run;
}

void PrintUsbProjections(uint64_t lineOperations, const BitBangRun& bitBang, bool real)
{
    const int fixedMs = FixedWaitsMs(VdkWaits{});
    const double controlLines = static_cast<double>(lineOperations) * kUsbLineOperationSeconds;
    const double rate = CBitBangLines::kDefaultStatesPerSecond;
    const double bitBangSeconds = static_cast<double>(bitBang.outcome.pinStates) / rate + fixedMs / 1000.0;
    std::printf("projected on a USB adapter, control lines: %.0f s (%llu line operations at 1 ms each)\n",
                controlLines, static_cast<unsigned long long>(lineOperations));
    std::printf("projected on an FTDI adapter, bit-bang: %.1f s (%llu pin states at %.0f a second, %d ms of "
                "waits; goal: at most %.0f s)\n",
                bitBangSeconds, static_cast<unsigned long long>(bitBang.outcome.pinStates), rate, fixedMs,
                kBitBangGoalSeconds);
    std::printf("bit-bang through the model: %.1f s (%s%s; the unit reports %s)\n",
                bitBang.elapsedMs / 1000.0, real ? "" : "unpaced, waits off: ",
                bitBang.outcome.success && bitBang.outcome.bitBang
                    ? "ok"
                    : ("FAILED: " + bitBang.outcome.message).c_str(),
                bitBang.unitReports.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    const bool noWaits = HasFlag(argc, argv, "--no-waits");
    const bool network = HasFlag(argc, argv, "--rfc2217");
    const std::chrono::microseconds delay = DelayOption(argc, argv);
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
        serverOptions.roundTripDelay = delay;
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
    char delayText[64] = "";
    if (delay.count() > 0)
        std::snprintf(delayText, sizeof delayText, ", %.3g ms added to each round trip",
                      static_cast<double>(delay.count()) / 1000.0);
    std::printf("VDK-1 program and verify, %s%s%s\n",
                network ? ("over RFC 2217 on loopback (" + request.portName + ")").c_str()
                        : "in-process simulator",
                delayText, noWaits ? ", waits off" : "");
#ifdef __OPTIMIZE__
    std::printf("  build             optimised\n");
#else
    std::printf("  build             NOT optimised: configure with -DCMAKE_BUILD_TYPE=Release for real figures\n");
#endif
    std::printf("  result            %s (%s)\n", outcome.success ? "ok" : "FAILED", outcome.message.c_str());
    std::printf("  unit reports      %s\n", model->ReportedFirmware().value_or("no firmware").c_str());
    if (network && !noWaits) {
        const int target = delay.count() > 0 ? kDelayedTargetMs : kLoopbackTargetMs;
        std::printf("  wall time         %u ms (target: at most %d ms%s; %.2f of it)\n", elapsed, target,
                    delay.count() > 0 && delay.count() != 1000 ? " with 1 ms added" : "",
                    static_cast<double>(elapsed) / target);
    } else {
        std::printf("  wall time         %u ms\n", elapsed);
    }
    std::printf("  fixed waits       %d ms\n", fixed);
    if (server)
        PrintNetworkFigures(*server, beyond, outcome.lineOperations);
    else
        PrintInProcessFigures(beyond, outcome.lineOperations);
    std::fflush(stdout);
    const BitBangRun bitBang = RunThroughTheModel(waits, !noWaits);
    PrintUsbProjections(outcome.lineOperations, bitBang, !noWaits);
    return outcome.success && bitBang.outcome.success ? 0 : 1;
}
