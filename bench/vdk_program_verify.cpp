// Times a full VDK-1 program-and-verify of the carried image against the in-process
// simulated unit, through the real programming link and the serial-device factory, and
// counts the line operations it makes. The fixed waits are the real ones unless
// --no-waits is given (then the figure is the pure cost of the line operations).

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/c_stopwatch.h"
#include "sim/sim_port_registry.h"
#include "sim/vdk1_model.h"
#include "vdk/display_unit_run.h"

using namespace kestrum;

namespace {

constexpr int kPages = 256;

int FixedWaitsMs(const VdkWaits& w)
{
    const int resetPulse = w.resetLowMs + w.resetSettleMs;
    return kPages * w.writePageMs + w.chipEraseMs + 2 * resetPulse + 2 * w.releaseMs;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool noWaits = argc > 1 && std::strcmp(argv[1], "--no-waits") == 0;
    VdkWaits waits;
    if (noWaits)
        waits = VdkWaits{0, 0, 0, 0, 0};

    // With the real waits the unit may as well insist on its erase and write times.
    Vdk1Model::Options options;
    options.enforceBusyTimes = !noWaits;
    auto model = std::make_shared<Vdk1Model>(options);
    RegisterSimBackend();
    RegisterSimPort("sim:vdk1-bench", model, SimSerialDevice::Options{false});

    DisplayUnitRunRequest request;
    request.portName = "sim:vdk1-bench";
    request.waits = waits;
    CStopwatch watch;
    const DisplayUnitRunOutcome outcome = RunDisplayUnitLoad(request);
    const uint32_t elapsed = watch.Elapsed();

    const int fixed = FixedWaitsMs(waits);
    std::printf("VDK-1 program and verify, in-process simulator%s\n", noWaits ? ", waits off" : "");
#ifdef __OPTIMIZE__
    std::printf("  build             optimised\n");
#else
    std::printf("  build             NOT optimised: configure with -DCMAKE_BUILD_TYPE=Release for real figures\n");
#endif
    std::printf("  result            %s (%s)\n", outcome.success ? "ok" : "FAILED", outcome.message.c_str());
    std::printf("  unit reports      %s\n", model->ReportedFirmware().value_or("no firmware").c_str());
    std::printf("  wall time         %u ms\n", elapsed);
    std::printf("  fixed waits       %d ms\n", fixed);
    std::printf("  beyond the waits  %d ms (target: under 2000 ms)\n", static_cast<int>(elapsed) - fixed);
    std::printf("  line operations   %llu (%.0f ns each beyond the waits)\n",
                static_cast<unsigned long long>(outcome.lineOperations),
                outcome.lineOperations ? (static_cast<double>(elapsed) - fixed) * 1e6 / outcome.lineOperations : 0.0);
    UnregisterSimPort("sim:vdk1-bench");
    return outcome.success ? 0 : 1;
}
