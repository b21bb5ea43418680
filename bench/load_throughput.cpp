// Loads a 1 MiB Flash image and a 64 KiB RAM image (--short: 64 KiB and 8 KiB) into kestrum-sim on a pseudo-terminal
// and prints, for paced 115200, paced 460800 and unpaced lines, each 460800 line also with
// the wire trace on: wall time, Flash payload rate, its ratio to the stop-and-wait bound of
// the line (518 bytes out and one byte back per 512 payload bytes, 10 bits a byte) and the
// CPU time this process used.
//
// For the paced lines it then splits the turnaround between two frames, from the moment
// the device has heard a frame's last byte to the moment it hears the next frame's first:
//   device reply     the device's acceptance byte has crossed the line (ideal: one character)
//   PC wake-up       the loader's read has that byte (the simulator hands it to the terminal,
//                    the kernel passes it on, the loader's thread wakes)
//   loader reaction  the loader hands the next frame's first byte to the port
//   next write       the device has heard that byte (ideal: one character)
// The device's side comes from kestrum-sim's wire log, the loader's from a port that notes
// the time of every read and write; both read the machine's steady clock. The simulator
// runs with --realtime, so that as root the machine's other work does not make the device
// late; a byte's way through a bare pseudo-terminal to a waiting reader is measured apart,
// as the loader's share of the wake-up. Last, the device's own time writing its Flash after
// the end frame, which the Flash stage holds, and the stage's ratio without it. The load runs
// on a worker thread, as in the programs.
//
// Usage: load_throughput [--short] [path/to/kestrum-sim]
// The exit status is 1 when a load fails or its trace is incomplete.
#include "loader/boot_protocol.h"
#include "loader/c_load_run.h"
#include "loader/load_result.h"
#include "platform/c_wire_trace.h"
#include "platform/forwarding_serial_device.h"
#include "platform/message_pump.h"
#include "platform/serial_device_factory.h"
#include "platform/termios_serial_device.h"
#include "platform/thread_priority.h"
#include "sim/image_layout.h"
#include "sim/sim_time.h"
#include "sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace kestrum;
using namespace kestrum::bench;
using Clock = std::chrono::steady_clock;

namespace {

// The payloads: 1 MiB of Flash and 64 KiB of RAM, or 64 KiB and 8 KiB with --short (the
// smoke run CI makes of every bench).
size_t flashPayload = 1u << 20;
size_t ramPayload = 64u << 10;

struct Mode {
    const char* name;
    uint32_t rate;
    bool paced;
    bool traced = false;
};

// What the loader's port did during the Flash stage, each read and write with its time.
struct PortNotes {
    struct Note {
        SimTime at;
        bool write;
        size_t count;
    };
    std::mutex mutex;
    std::atomic<bool> flashStage{false};
    std::vector<Note> notes;

    void Add(bool write, long count)
    {
        if (count <= 0 || !flashStage)
            return;
        const SimTime now = SimNow();
        std::lock_guard lock(mutex);
        notes.push_back({now, write, static_cast<size_t>(count)});
    }
    // The time of byte index (from 0) of one direction.
    std::vector<SimTime> ByteTimes(bool write)
    {
        std::lock_guard lock(mutex);
        std::vector<SimTime> times;
        for (const Note& note : notes)
            if (note.write == write)
                times.insert(times.end(), note.count, note.at);
        return times;
    }
};

// The termios port as the loader uses it, noting the time of every read and write; opened
// as "timed:/dev/pts/N".
class TimedPort : public ForwardingSerialDevice<> {
public:
    static constexpr const char* kPrefix = "timed:";

    // The pty itself, not CreateSerialDevice's: that wraps this port in the wire trace
    // already, and a second wrapper would trace every byte twice. It exists before the open,
    // since the port hands it its cancel check first.
    explicit TimedPort(std::shared_ptr<PortNotes> notes)
        : ForwardingSerialDevice(std::make_unique<TermiosSerialDevice>()), notes_(std::move(notes))
    {
    }

    bool Open(const std::string& name) override { return inner_->Open(name.substr(std::strlen(kPrefix))); }
    long Write(const uint8_t* data, size_t count) override
    {
        notes_->Add(true, static_cast<long>(count)); // handed over now; what is not taken is handed again
        const long taken = inner_->Write(data, count);
        if (taken >= 0 && static_cast<size_t>(taken) < count)
            Untake(count - static_cast<size_t>(taken));
        return taken;
    }
    long Read(uint8_t* data, size_t room) override
    {
        const long got = inner_->Read(data, room);
        notes_->Add(false, got);
        return got;
    }

private:
    void Untake(size_t count)
    {
        std::lock_guard lock(notes_->mutex);
        if (!notes_->notes.empty() && notes_->notes.back().write)
            notes_->notes.back().count -= std::min(count, notes_->notes.back().count);
    }

    std::shared_ptr<PortNotes> notes_;
};

// The device's side: the times of the bytes in each direction, from kestrum-sim's wire log.
struct DeviceSide {
    std::vector<SimTime> heard; // bytes from the PC
    std::vector<SimTime> sent;  // bytes to the PC
};

DeviceSide ReadWireLog(const std::string& path)
{
    DeviceSide side;
    std::ifstream in(path);
    std::string line;
    double origin = 0;
    while (std::getline(in, line)) {
        if (line.rfind("# times in seconds from ", 0) == 0) {
            origin = std::stod(line.substr(std::strlen("# times in seconds from ")));
            continue;
        }
        std::istringstream words(line);
        double t = 0;
        std::string kind;
        words >> t >> kind;
        const SimTime at(static_cast<int64_t>((origin + t) * 1e6 + 0.5));
        if (kind == "pc")
            side.heard.push_back(at);
        else if (kind == "device")
            side.sent.push_back(at);
    }
    return side;
}

// Mean and median of a list of microsecond figures.
struct Figure {
    double mean = 0;
    double median = 0;
};

Figure Summarise(std::vector<double> values)
{
    Figure figure;
    if (values.empty())
        return figure;
    double sum = 0;
    for (double v : values)
        sum += v;
    figure.mean = sum / static_cast<double>(values.size());
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
    figure.median = values[values.size() / 2];
    return figure;
}

// How long a byte written into a pseudo-terminal takes to reach a reader that waits for it
// in poll(), as the loader's thread does: the terminal's and the reader's own share of the
// PC wake-up, measured without the simulator. Mean and median of 500 bytes, in us.
Figure TerminalWakeUp()
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return {};
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    std::vector<double> delays;
    std::atomic<int64_t> writtenAt{0};
    std::thread reader([&] {
        RaiseThreadPriority();
        for (int i = 0; i < 500; ++i) {
            pollfd fd{slave, POLLIN, 0};
            if (poll(&fd, 1, 1000) <= 0)
                break;
            uint8_t byte = 0;
            if (read(slave, &byte, 1) == 1)
                delays.push_back(static_cast<double>(SimNow().count() - writtenAt.load()));
        }
    });
    for (int i = 0; i < 500; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        writtenAt = SimNow().count();
        const uint8_t byte = 0x06;
        if (write(master, &byte, 1) != 1)
            break;
    }
    reader.join();
    close(slave);
    close(master);
    return Summarise(delays);
}

// Splits the turnaround of every pair of Flash frames (see the top of this file) and prints
// the figures, with the share that belongs to the simulator.
void PrintTurnaround(const Mode& mode, PortNotes& notes, const DeviceSide& device, size_t frames,
                     const Figure& terminal, double flashSeconds)
{
    constexpr size_t kFrame = 6 + boot::kBlockLength;
    const std::vector<SimTime> written = notes.ByteTimes(true);
    const std::vector<SimTime> read = notes.ByteTimes(false);
    // The frames are the last bytes the PC sent; their acceptances are the device's last
    // bytes but one (the final acknowledgement); the loader read the opening 0x15 first.
    if (written.size() < frames * kFrame || read.size() < frames + 1 ||
        device.heard.size() < frames * kFrame || device.sent.size() < frames + 1) {
        std::printf("%-16s turnaround: the logs do not hold every frame\n", mode.name);
        return;
    }
    const size_t heardBase = device.heard.size() - frames * kFrame;
    const size_t sentBase = device.sent.size() - 1 - frames;
    std::vector<double> reply, wake, reaction, next, total, onLine;
    const auto us = [](SimTime t) { return static_cast<double>(t.count()); };
    for (size_t k = 0; k + 1 < frames; ++k) {
        const SimTime heardEnd = device.heard[heardBase + k * kFrame + kFrame - 1];
        const SimTime replied = device.sent[sentBase + k];
        const SimTime pcRead = read[1 + k];
        const SimTime pcWrite = written[(k + 1) * kFrame];
        const SimTime heardNext = device.heard[heardBase + (k + 1) * kFrame];
        reply.push_back(us(replied - heardEnd));
        wake.push_back(us(pcRead - replied));
        reaction.push_back(us(pcWrite - pcRead));
        next.push_back(us(heardNext - pcWrite));
        total.push_back(us(heardNext - heardEnd));
        onLine.push_back(us(heardEnd - device.heard[heardBase + k * kFrame]));
    }
    const double character = us(ByteTime(mode.rate));
    const Figure parts[] = {Summarise(reply), Summarise(wake),  Summarise(reaction),
                            Summarise(next),  Summarise(total), Summarise(onLine)};
    std::printf("%-16s per frame, mean (median) in us; one character is %.1f us:\n", mode.name, character);
    const char* names[] = {"device reply", "PC wake-up", "loader reaction",
                           "next write",   "turnaround", "frame"};
    const double ideals[] = {character, 0, 0, character, 2 * character, 517 * character};
    for (size_t i = 0; i < 6; ++i)
        std::printf("  %-16s %9.1f (%9.1f)   ideal %9.1f\n", names[i], parts[i].mean, parts[i].median,
                    ideals[i]);
    // A frame period is the frame from its first byte's end to its last's, plus the
    // turnaround; the bound is 519 characters. The loader's own time is its reaction and,
    // of the PC wake-up, what a byte takes through a terminal to a waiting reader without
    // the simulator; the rest of the excess is the simulator's.
    const double bound = 519 * character;
    const double period = parts[5].mean + parts[4].mean + character;
    const double typical = parts[5].median + parts[4].median + character;
    const double loader = parts[2].mean + terminal.mean;
    std::printf("  frames: %.1f%% of the bound (typical frame, from the medians: %.1f%%)\n",
                100.0 * bound / period, 100.0 * bound / typical);
    std::printf(
        "  of the %.1f us a frame above the bound: loader %.1f us (reaction %.1f, terminal and wake-up "
        "%.1f), simulator %.1f us\n",
        period - bound, loader, parts[2].mean, terminal.mean, period - bound - loader);
    // The device writes its Flash between the end frame and the final acknowledgement, all
    // within the Flash stage: its time, not the line's.
    const double writeSeconds = us(device.sent.back() - device.heard.back()) / 1e6;
    std::printf(
        "  the device's write after the end frame: %.0f ms; the Flash stage without it: %.1f%% of the "
        "line bound\n",
        writeSeconds * 1e3,
        100.0 * static_cast<double>(flashPayload) / (flashSeconds - writeSeconds) /
            (mode.rate / 10.0 * 512.0 / 519.0));
}

// False when the simulator did not start, the load failed or its trace is incomplete.
bool RunMode(const std::string& program, const Mode& mode, const std::string& ram, const std::string& flash,
             const std::string& wireLog, const Figure& terminal)
{
    auto notes = std::make_shared<PortNotes>();
    RegisterSerialBackend(TimedPort::kPrefix, [notes] { return std::make_unique<TimedPort>(notes); });
    std::vector<std::string> options = {
        "--device", "receiver",   "--rate", std::to_string(mode.rate), "--power-cycle-after",
        "200",      "--wire-log", wireLog};
    if (!mode.paced)
        options.push_back("--unpaced");
    options.push_back("--realtime"); // as root: the device's timing is not the machine's load
    auto simulator = std::make_unique<SimProcess>(program, options);
    if (simulator->Port().empty()) {
        std::printf("%-16s kestrum-sim did not start (%s)\n", mode.name, program.c_str());
        return false;
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
        notes->flashStage = on != 0;
    });
    // On a worker thread, as the programs run a load.
    auto request = std::make_shared<LoadRequest>();
    request->portName = std::string(TimedPort::kPrefix) + simulator->Port();
    request->baudRate = mode.rate;
    request->captureMethod = kPowerOnCapture;
    request->ramPath = ram;
    request->flashPath = flash;
    const std::string tracePath = flash + ".trace";
    std::string error;
    if (mode.traced && !CWireTrace::Start(tracePath, "load_throughput", error)) {
        std::printf("%-16s %s\n", mode.name, error.c_str());
        MessagePump::InstallMessageSink(nullptr);
        UnregisterSerialBackend(TimedPort::kPrefix);
        return false;
    }
    const Clock::time_point start = Clock::now();
    const double cpuStart = CpuSeconds();
    std::thread worker([request] { RunLoadWorker(request); });
    worker.join();
    const int result = request->Result();
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
    const double payloadRate = flashSeconds > 0 ? static_cast<double>(flashPayload) / flashSeconds : 0;
    const double bound = mode.rate / 10.0 * 512.0 / 519.0;
    const double flashCpu = cpuAtFlashEnd - cpuAtFlashStart;
    std::printf("%-16s result %d  wall %7.2f s  Flash %7.2f s  payload %9.0f B/s  %6.1f%% of the line bound  "
                "CPU %5.2f s (Flash stage %5.2f s, %4.1f%% of a core)\n",
                mode.name, result, wall, flashSeconds, payloadRate,
                mode.paced ? 100.0 * payloadRate / bound : 0.0, cpu, flashCpu,
                flashSeconds > 0 ? 100.0 * flashCpu / flashSeconds : 0.0);
    simulator.reset(); // its wire log is complete once it has ended
    UnregisterSerialBackend(TimedPort::kPrefix);
    if (mode.paced && result == LOAD_OK)
        PrintTurnaround(mode, *notes, ReadWireLog(wireLog),
                        (flashPayload + 24 + boot::kBlockLength) / boot::kBlockLength, terminal,
                        flashSeconds);
    return result == LOAD_OK && (!mode.traced || traceWritten);
}

} // namespace

int main(int argc, char** argv)
{
    std::string self = argv[0];
    std::string program = self.substr(0, self.find_last_of('/') + 1) + "../sim/kestrum-sim";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--short") == 0) {
            flashPayload = 64u << 10;
            ramPayload = 8u << 10;
        } else {
            program = argv[i];
        }
    }
    char pattern[] = "/tmp/kestrum-bench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string dir = pattern;
    const std::string ram = WriteImage(dir + "/ram.ldr", BuildRamImage({true, 20, "bench", ramPayload}));
    const std::string flash =
        WriteImage(dir + "/main.ldp", BuildFlashImage({20, "bench", flashPayload, true}));
    std::printf("%zu KiB Flash + %zu KiB RAM through kestrum-sim on a pty (the unpaced bound column is not "
                "meaningful)\n",
                flashPayload >> 10, ramPayload >> 10);
    const Figure terminal = TerminalWakeUp();
    std::printf("a byte through a pty to a reader waiting in poll(): %.1f us (median %.1f)\n", terminal.mean,
                terminal.median);
    bool allLoaded = true;
    for (const Mode& mode :
         {Mode{"paced 115200", 115200, true}, Mode{"paced 460800", 460800, true},
          Mode{"paced 460800 tr", 460800, true, true}, Mode{"unpaced 460800", 460800, false},
          Mode{"unpaced 460800 tr", 460800, false, true}})
        allLoaded = RunMode(program, mode, ram, flash, dir + "/wire.log", terminal) && allLoaded;
    unlink((dir + "/wire.log").c_str());
    unlink(ram.c_str());
    unlink(flash.c_str());
    rmdir(dir.c_str());
    return allLoaded ? 0 : 1;
}
