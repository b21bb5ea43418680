// Times a full VDK-1 program-and-verify of the carried image over a network serial port
// (COM-port control on loopback TCP) against the simulator's server, and counts the
// round trips it made (one per DSR read, as each must reflect the clock pulse before it)
// and the line changes. Fixed waits are the real ones unless --no-waits is given.

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/c_stopwatch.h"
#include "sim/rfc2217_server.h"
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

    Vdk1Model::Options options;
    options.enforceBusyTimes = !noWaits;
    auto model = std::make_shared<Vdk1Model>(options);
    Rfc2217Server server(model, {.paced = false});
    std::string error;
    if (!server.Open(error)) {
        std::fprintf(stderr, "rfc2217_vdk_program_verify: %s\n", error.c_str());
        return 1;
    }
    server.Start();

    DisplayUnitRunRequest request;
    request.portName = server.Url();
    request.waits = waits;
    CStopwatch watch;
    const DisplayUnitRunOutcome outcome = RunDisplayUnitLoad(request);
    const uint32_t elapsed = watch.Elapsed();
    server.Stop();

    const int fixed = FixedWaitsMs(waits);
    const uint64_t roundTrips = server.Counters().roundTrips.load();
    const int beyond = static_cast<int>(elapsed) - fixed;
    std::printf("VDK-1 program and verify over RFC 2217 on loopback (%s)%s\n", request.portName.c_str(),
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
    std::printf("  beyond the waits  %d ms\n", beyond);
    std::printf("  round trips       %llu (%.1f us each if they took all the time beyond the waits)\n",
                static_cast<unsigned long long>(roundTrips), roundTrips ? beyond * 1000.0 / roundTrips : 0.0);
    std::printf("  line changes      %llu applied by the server (%llu line operations by the link)\n",
                static_cast<unsigned long long>(server.Counters().lineChanges.load()),
                static_cast<unsigned long long>(outcome.lineOperations));
    return outcome.success ? 0 : 1;
}
