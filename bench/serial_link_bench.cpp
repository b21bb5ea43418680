// Figures of the serial link over a pseudo-terminal:
//  1. CPU time of an open port whose receive worker waits on an idle line (5 s);
//  2. receive throughput from the far end into the port's receive buffer, with a
//     consumer that keeps up, and whether any byte was lost or changed.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "link/c_serial_port.h"

using namespace kestrum;

namespace {

// 5 s idle and 16 MiB a rate; --short (CI's smoke run of every bench): 1 s and 1 MiB.
int idleSeconds = 5;
size_t throughputBytes = 16u << 20;
constexpr size_t kWriteChunk = 4096;
constexpr int kQuietEndMs = 500;
// Far-end send rates in MB/s; 0 sends as fast as the pseudo-terminal takes bytes.
constexpr double kSendRates[] = {2.0, 4.0, 8.0, 0.0};

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

uint8_t PatternByte(size_t index)
{
    return static_cast<uint8_t>((index * 7 + index / 251) & 0xFF);
}

struct Pty {
    int master = -1;
    std::string slave;
    bool Open()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return false;
        slave = ptsname(master);
        return true;
    }
    ~Pty()
    {
        if (master >= 0)
            close(master);
    }
};

void FarEndSends(int master, size_t total, double megabytesPerSecond)
{
    uint8_t chunk[kWriteChunk];
    size_t sent = 0;
    const auto start = std::chrono::steady_clock::now();
    while (sent < total) {
        if (megabytesPerSecond > 0)
            std::this_thread::sleep_until(start + std::chrono::duration<double>(static_cast<double>(sent) /
                                                                                (megabytesPerSecond * 1e6)));
        const size_t n = std::min(kWriteChunk, total - sent);
        for (size_t i = 0; i < n; ++i)
            chunk[i] = PatternByte(sent + i);
        size_t done = 0;
        while (done < n) {
            const ssize_t w = write(master, chunk + done, n - done);
            if (w > 0) {
                done += static_cast<size_t>(w);
                continue;
            }
            pollfd pfd{master, POLLOUT, 0};
            poll(&pfd, 1, 100);
        }
        sent += n;
    }
}

struct Reception {
    size_t received = 0;
    size_t intactPrefix = 0; // bytes that arrived in order before the first gap
    double seconds = 0;
};

// Takes everything from the receive buffer as it arrives, until the far end is done and
// the line has been quiet for a while.
Reception ConsumeAndCheck(CPort& port, const std::atomic<bool>& farEndDone)
{
    Reception result;
    bool intact = true;
    const auto start = std::chrono::steady_clock::now();
    auto lastData = start;
    while (!farEndDone || Seconds(lastData) * 1000 < kQuietEndMs) {
        port.ReceiveBuffer().DataEvent().Wait(50);
        size_t taken = 0;
        port.ReceiveBuffer().Inspect([&](const uint8_t* data, size_t length) {
            for (size_t i = 0; i < length && intact; ++i)
                intact = data[i] == PatternByte(result.received + i);
            taken = length;
        });
        if (taken == 0)
            continue;
        port.ReceiveBuffer().Consume(static_cast<long>(taken));
        result.received += taken;
        if (intact)
            result.intactPrefix = result.received;
        lastData = std::chrono::steady_clock::now();
        result.seconds = Seconds(start);
    }
    return result;
}

// A receiving port on the slave side of a fresh pseudo-terminal; null when none opens.
std::unique_ptr<CSerialPort> OpenReceivingPort(Pty& pty)
{
    if (!pty.Open())
        return nullptr;
    auto port = std::make_unique<CSerialPort>(pty.slave);
    if (!port->GetHandle())
        return nullptr;
    port->StartReceive();
    return port;
}

bool IdleCpu()
{
    Pty pty;
    auto port = OpenReceivingPort(pty);
    if (!port)
        return false;
    const double cpuBefore = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const double cpu = CpuSeconds() - cpuBefore;
    std::printf("idle open port with receive worker: %.3f s CPU in %d s = %.3f%% of a core (target < 1%%)\n",
                cpu, idleSeconds, cpu * 100.0 / idleSeconds);
    ClosePort(std::move(port));
    return true;
}

bool Throughput(double megabytesPerSecond)
{
    Pty pty;
    auto port = OpenReceivingPort(pty);
    if (!port)
        return false;
    std::atomic<bool> farEndDone{false};
    std::thread farEnd([&] {
        FarEndSends(pty.master, throughputBytes, megabytesPerSecond);
        farEndDone = true;
    });
    const Reception got = ConsumeAndCheck(*port, farEndDone);
    farEnd.join();
    char offered[32] = "unpaced";
    if (megabytesPerSecond > 0)
        std::snprintf(offered, sizeof offered, "%.1f MB/s", megabytesPerSecond);
    std::printf("receive, far end %-9s: %zu of %zu bytes in %.3f s = %.2f MB/s, lost %zu, %s\n", offered,
                got.received, throughputBytes, got.seconds,
                static_cast<double>(got.received) / got.seconds / 1e6, throughputBytes - got.received,
                got.intactPrefix == throughputBytes ? "every byte in order" : "gap in the data");
    ClosePort(std::move(port));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--short") {
        idleSeconds = 1;
        throughputBytes = 1u << 20;
    }
    std::printf("receive throughput target: >= 2 MB/s with no byte lost while the consumer keeps up\n");
    bool ok = IdleCpu();
    for (double rate : kSendRates)
        ok = ok && Throughput(rate);
    if (!ok) {
        std::fprintf(stderr, "cannot open a pseudo-terminal port\n");
        return 1;
    }
    return 0;
}
