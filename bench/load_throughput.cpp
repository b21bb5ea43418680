// Loads a 1 MiB Flash image and a 64 KiB RAM image into kestrum-sim on a pseudo-terminal
// and prints, for paced 115200, paced 460800 and unpaced lines: wall time, Flash payload
// rate, its ratio to the stop-and-wait bound of the line (518 bytes out and one byte back
// per 512 payload bytes, 10 bits a byte) and the CPU time this process used.
//
// Usage: load_throughput [path/to/kestrum-sim]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "loader/c_load_run.h"
#include "loader/load_result.h"
#include "platform/message_pump.h"
#include "sim/image_layout.h"
#include "sim_process.h"

using namespace kestrum;
using namespace kestrum::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kFlashPayload = 1u << 20;
constexpr size_t kRamPayload = 64u << 10;

struct Mode {
    const char* name;
    uint32_t rate;
    bool paced;
};

void RunMode(const std::string& program, const Mode& mode, const std::string& ram, const std::string& flash)
{
    std::vector<std::string> options = {
        "--device", "receiver", "--rate", std::to_string(mode.rate), "--power-cycle-after", "200"};
    if (!mode.paced)
        options.push_back("--unpaced");
    const SimProcess simulator(program, options);
    if (simulator.Port().empty()) {
        std::printf("%-16s kestrum-sim did not start (%s)\n", mode.name, program.c_str());
        return;
    }
    std::mutex mutex;
    Clock::time_point flashStart, flashEnd;
    double cpuAtFlashStart = 0, cpuAtFlashEnd = 0;
    MessagePump::InstallMessageSink([&](int message, intptr_t stage, intptr_t on) {
        if (message != WM_LOADER_STAGE || stage != 1)
            return;
        std::lock_guard lock(mutex);
        (on ? flashStart : flashEnd) = Clock::now();
        (on ? cpuAtFlashStart : cpuAtFlashEnd) = CpuSeconds();
    });
    LoadRequest request;
    request.portName = simulator.Port();
    request.baudRate = mode.rate;
    request.captureMethod = kPowerOnCapture;
    request.ramPath = ram;
    request.flashPath = flash;
    const Clock::time_point start = Clock::now();
    const double cpuStart = CpuSeconds();
    const int result = CLoadRun(request).Run();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    MessagePump::InstallMessageSink(nullptr);

    const double flashSeconds = std::chrono::duration<double>(flashEnd - flashStart).count();
    const double payloadRate = flashSeconds > 0 ? static_cast<double>(kFlashPayload) / flashSeconds : 0;
    const double bound = mode.rate / 10.0 * 512.0 / 519.0;
    const double flashCpu = cpuAtFlashEnd - cpuAtFlashStart;
    std::printf("%-16s result %d  wall %7.2f s  Flash %7.2f s  payload %9.0f B/s  %6.1f%% of the line bound  "
                "CPU %5.2f s (Flash stage %5.2f s, %4.1f%% of a core)\n",
                mode.name, result, wall, flashSeconds, payloadRate, mode.paced ? 100.0 * payloadRate / bound : 0.0,
                cpu, flashCpu, flashSeconds > 0 ? 100.0 * flashCpu / flashSeconds : 0.0);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string self = argv[0];
    const std::string program =
        argc > 1 ? argv[1] : self.substr(0, self.find_last_of('/') + 1) + "../sim/kestrum-sim";
    char pattern[] = "/tmp/kestrum-bench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string dir = pattern;
    const std::string ram = WriteImage(dir + "/ram.ldr", BuildRamImage({true, 20, "bench", kRamPayload}));
    const std::string flash = WriteImage(dir + "/main.ldp", BuildFlashImage({20, "bench", kFlashPayload, true}));
    std::printf("1 MiB Flash + 64 KiB RAM through kestrum-sim on a pty (the unpaced bound column is not "
                "meaningful)\n");
    for (const Mode& mode : {Mode{"paced 115200", 115200, true}, Mode{"paced 460800", 460800, true},
                             Mode{"unpaced 460800", 460800, false}})
        RunMode(program, mode, ram, flash);
    unlink(ram.c_str());
    unlink(flash.c_str());
    rmdir(dir.c_str());
    return 0;
}
