// Loads a 1 MiB Flash image and a 64 KiB RAM image into kestrum-sim on a pseudo-terminal
// and prints, for paced 115200, paced 460800 and unpaced lines, each 460800 line also with
// the wire trace on: wall time, Flash payload rate, its ratio to the stop-and-wait bound of
// the line (518 bytes out and one byte back per 512 payload bytes, 10 bits a byte) and the
// CPU time this process used.
//
// Usage: load_throughput [path/to/kestrum-sim]
#include <chrono>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "loader/c_load_run.h"
#include "loader/load_result.h"
#include "platform/c_wire_trace.h"
#include "platform/message_pump.h"
#include "sim/image_layout.h"

using namespace kestrum;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kFlashPayload = 1u << 20;
constexpr size_t kRamPayload = 64u << 10;

struct Mode {
    const char* name;
    uint32_t rate;
    bool paced;
    bool traced = false;
};

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// kestrum-sim as a child process serving a receiver; its port is its first output line.
class Simulator {
public:
    Simulator(const std::string& program, const Mode& mode)
    {
        int out[2];
        if (pipe(out) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            const std::string rate = std::to_string(mode.rate);
            std::vector<const char*> args = {program.c_str(), "--device", "receiver", "--rate", rate.c_str(),
                                             "--power-cycle-after", "200"};
            if (!mode.paced)
                args.push_back("--unpaced");
            args.push_back(nullptr);
            execv(program.c_str(), const_cast<char* const*>(args.data()));
            _exit(127);
        }
        close(out[1]);
        char line[256] = {};
        FILE* stream = fdopen(out[0], "r");
        if (stream && fgets(line, sizeof line, stream))
            port_ = std::string(line, strcspn(line, "\n"));
        if (stream)
            fclose(stream);
    }
    ~Simulator()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& Port() const { return port_; }

private:
    pid_t pid_ = -1;
    std::string port_;
};

std::string WriteImage(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
}

void RunMode(const std::string& program, const Mode& mode, const std::string& ram, const std::string& flash)
{
    Simulator simulator(program, mode);
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
    const std::string tracePath = flash + ".trace";
    std::string error;
    if (mode.traced && !CWireTrace::Start(tracePath, "load_throughput", error)) {
        std::printf("%-16s %s\n", mode.name, error.c_str());
        return;
    }
    const Clock::time_point start = Clock::now();
    const double cpuStart = CpuSeconds();
    const int result = CLoadRun(request).Run();
    // Writing the rest of the trace is part of its cost.
    const bool traceWritten = CWireTrace::End();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    if (mode.traced) {
        std::ifstream written(tracePath, std::ios::ate);
        std::printf("%-16s trace %s, %.1f MB\n", mode.name, traceWritten ? "complete" : "INCOMPLETE",
                    static_cast<double>(written.tellg()) / 1e6);
        unlink(tracePath.c_str());
    }
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
                             Mode{"paced 460800 tr", 460800, true, true}, Mode{"unpaced 460800", 460800, false},
                             Mode{"unpaced 460800 tr", 460800, false, true}})
        RunMode(program, mode, ram, flash);
    unlink(ram.c_str());
    unlink(flash.c_str());
    rmdir(dir.c_str());
    return 0;
}
