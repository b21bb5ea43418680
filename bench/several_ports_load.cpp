// Loads a 1 MiB Flash image and a 64 KiB RAM image with one kestrum-cli into simulated
// receivers, each served by its own kestrum-sim on a pseudo-terminal paced at 115200:
// first into one, then into four at once (--short: 32 KiB and 8 KiB, into two). Prints each load's Flash payload rate as a
// ratio of the line's stop-and-wait bound (518 bytes out and one byte back per 512 payload
// bytes, 10 bits a byte; target 0.95 or more) and kestrum-cli's CPU time per loaded MiB
// for four loads as a ratio of that for one (target 1.0 or less). Ratios, since the
// machine may be busy with other work; --rounds N repeats both and compares the least
// CPU times.
//
// Usage: several_ports_load [--short] [--ports N] [--flash-kib N] [--rounds N] [--cli PATH] [--sim PATH]
#include <fcntl.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/image_layout.h"
#include "sim_process.h"

using namespace kestrum;
using namespace kestrum::bench;

namespace {

constexpr uint32_t kRate = 115200;

struct Setup {
    std::string cli;
    std::string sim;
    int ports = 4;
    size_t flashPayload = 1u << 20;
    size_t ramPayload = 64u << 10;
    int rounds = 1;
    std::string ram;
    std::string flash;
};

struct CliRun {
    int exitStatus = -1;
    double cpuSeconds = 0;
    std::string json;
};

// kestrum-cli load ... --json as a child; its output and the CPU time it used.
CliRun RunCli(const Setup& setup, const std::vector<std::string>& ports)
{
    std::vector<std::string> words = {setup.cli, "load",    "-s", std::to_string(kRate), "-c",    "pwr",
                                      "-r",      setup.ram, "-f", setup.flash,           "--json"};
    for (const std::string& port : ports)
        words.insert(words.end(), {"-p", port});
    int out[2];
    CliRun run;
    if (pipe(out) != 0)
        return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        if (const int quiet = open("/dev/null", O_WRONLY); quiet >= 0)
            dup2(quiet, STDERR_FILENO); // the progress of every port, of no use here
        std::vector<const char*> args;
        for (const std::string& word : words)
            args.push_back(word.c_str());
        args.push_back(nullptr);
        setenv("KESTRUM_INI", "/nonexistent/kestrum.ini", 1);
        execv(setup.cli.c_str(), const_cast<char* const*>(args.data()));
        _exit(127);
    }
    close(out[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        run.json.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    return run;
}

// The Flash stage's seconds of a port in kestrum-cli's JSON summary.
std::optional<double> FlashSeconds(const std::string& json, const std::string& port)
{
    const size_t at = json.find("\"port\": \"" + port + "\"");
    const size_t field = at == std::string::npos ? at : json.find("\"flashSeconds\": ", at);
    if (field == std::string::npos)
        return std::nullopt;
    const char* value = json.c_str() + field + std::strlen("\"flashSeconds\": ");
    if (std::strncmp(value, "null", 4) == 0)
        return std::nullopt;
    return std::atof(value);
}

// One kestrum-cli loading count simulated receivers at once; returns its CPU time per
// loaded MiB, or a negative value when a load failed.
double LoadAtOnce(const Setup& setup, int count)
{
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::string> ports;
    for (int i = 0; i < count; ++i) {
        sims.push_back(std::make_unique<SimProcess>(
            setup.sim, std::vector<std::string>{"--device", "receiver", "--rate", std::to_string(kRate),
                                                "--power-cycle-after", "200"}));
        ports.push_back(sims.back()->Port());
        if (ports.back().empty()) {
            std::printf("kestrum-sim did not start (%s)\n", setup.sim.c_str());
            return -1;
        }
    }
    const CliRun run = RunCli(setup, ports);
    const double bound = kRate / 10.0 * 512.0 / 519.0;
    std::printf("%d at once: exit status %d, kestrum-cli CPU %.2f s\n", count, run.exitStatus,
                run.cpuSeconds);
    for (const std::string& port : ports) {
        const std::optional<double> seconds = FlashSeconds(run.json, port);
        if (!seconds || *seconds <= 0) {
            std::printf("  %-14s no Flash stage\n", port.c_str());
            continue;
        }
        const double rate = static_cast<double>(setup.flashPayload) / *seconds;
        std::printf(
            "  %-14s Flash %7.2f s  %8.0f B/s  %.3f of the stop-and-wait bound (target 0.95 or more)\n",
            port.c_str(), *seconds, rate, rate / bound);
    }
    const double mib = static_cast<double>(count) * static_cast<double>(setup.flashPayload + setup.ramPayload) /
                       static_cast<double>(1u << 20);
    return run.exitStatus == 0 ? run.cpuSeconds / mib : -1;
}

// The lesser of two CPU figures, where 0 is none yet and a negative one a failed load.
double LeastPositive(double least, double figure)
{
    if (least < 0 || figure < 0)
        return -1;
    return least == 0 ? figure : std::min(least, figure);
}

std::string Beside(const char* self, const std::string& relative)
{
    const std::string path = self;
    return path.substr(0, path.find_last_of('/') + 1) + relative;
}

} // namespace

int main(int argc, char** argv)
{
    Setup setup;
    setup.cli = Beside(argv[0], "../src/cli/kestrum-cli");
    setup.sim = Beside(argv[0], "../sim/kestrum-sim");
    for (int i = 1; i < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--short") {
            // CI's smoke run of every bench: two ports, small images, seconds in all.
            setup.ports = 2;
            setup.flashPayload = 32u << 10;
            setup.ramPayload = 8u << 10;
            --i;
        } else if (i + 1 >= argc) {
            break;
        } else if (option == "--ports")
            setup.ports = std::max(2, std::atoi(argv[i + 1]));
        else if (option == "--flash-kib")
            setup.flashPayload = static_cast<size_t>(std::max(1, std::atoi(argv[i + 1]))) << 10;
        else if (option == "--rounds")
            setup.rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--cli")
            setup.cli = argv[i + 1];
        else if (option == "--sim")
            setup.sim = argv[i + 1];
    }
    char pattern[] = "/tmp/kestrum-bench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string dir = pattern;
    setup.ram = WriteImage(dir + "/ram.ldr", BuildRamImage({true, 20, "bench", setup.ramPayload}));
    setup.flash = WriteImage(dir + "/main.ldp", BuildFlashImage({20, "bench", setup.flashPayload, true}));
    std::printf("%zu KiB Flash + %zu KiB RAM into receivers on ptys paced at %u, by one kestrum-cli\n",
                setup.flashPayload >> 10, setup.ramPayload >> 10, kRate);
    // Other work on the machine only ever adds CPU time, so the least of each is the truest.
    double single = 0;
    double several = 0;
    for (int round = 0; round < setup.rounds; ++round) {
        single = LeastPositive(single, LoadAtOnce(setup, 1));
        several = LeastPositive(several, LoadAtOnce(setup, setup.ports));
    }
    if (single > 0 && several > 0)
        std::printf(
            "CPU per loaded MiB%s: %.3f s for one, %.3f s each for %d at once: %.2f of one (target 1.0 or "
            "less)\n",
            setup.rounds > 1 ? ", least of the rounds" : "", single, several, setup.ports, several / single);
    unlink(setup.ram.c_str());
    unlink(setup.flash.c_str());
    rmdir(dir.c_str());
    return single > 0 && several > 0 ? 0 : 1;
}
