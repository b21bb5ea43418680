#pragma once

// A pseudo-terminal pair for link tests: the port opens the slave by its path, the test
// plays the far end on the master. tcgetattr-style reads on the master return the
// slave's settings, so rates and flags set by the port can be checked from here.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace kestrum::test {

class PtyPair {
public:
    PtyPair()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            if (const char* name = ::ptsname(master_))
                slaveName_ = name;
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_ >= 0 && !slaveName_.empty(); }
    const std::string& SlaveName() const { return slaveName_; }
    int Master() const { return master_; }

    void CloseMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    termios2 SlaveTermios() const
    {
        termios2 tio{};
        ::ioctl(master_, TCGETS2, &tio);
        return tio;
    }

    uint32_t SlaveRate() const
    {
        const termios2 tio = SlaveTermios();
        return tio.c_ospeed;
    }

    // Writes everything, waiting for room; false when it cannot within timeoutMs.
    bool WriteAll(const std::string& data, int timeoutMs = 10000)
    {
        size_t done = 0;
        const auto start = std::chrono::steady_clock::now();
        while (done < data.size()) {
            const ssize_t n = ::write(master_, data.data() + done, data.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (ElapsedMs(start) > timeoutMs)
                return false;
            pollfd pfd{master_, POLLOUT, 0};
            ::poll(&pfd, 1, 50);
        }
        return true;
    }

    // Reads until want bytes arrived or timeoutMs passed.
    std::string Read(size_t want, int timeoutMs = 5000)
    {
        std::string got;
        const auto start = std::chrono::steady_clock::now();
        char chunk[4096];
        while (got.size() < want && ElapsedMs(start) <= timeoutMs) {
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n > 0) {
                got.append(chunk, static_cast<size_t>(n));
                continue;
            }
            pollfd pfd{master_, POLLIN, 0};
            ::poll(&pfd, 1, 50);
        }
        return got;
    }

private:
    static long ElapsedMs(std::chrono::steady_clock::time_point start)
    {
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count());
    }

    int master_ = -1;
    std::string slaveName_;
};

} // namespace kestrum::test
