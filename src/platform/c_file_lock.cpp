#include "platform/c_file_lock.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kestrum {

namespace {

// flock has no time-out of its own: it is tried this often until the wait is over.
constexpr auto kRetryStep = std::chrono::milliseconds(10);

}  // namespace

CFileLock::CFileLock(const std::string& lockPath, std::chrono::milliseconds wait)
    : handle_(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0666))
{
    if (handle_ < 0) {
        error_ = "Cannot open " + lockPath + ": " + std::strerror(errno);
        return;
    }
    Acquire(lockPath, wait);
}

CFileLock::~CFileLock()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

void CFileLock::Acquire(const std::string& lockPath, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB) == 0) {
            state_ = State::Held;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error_ = "Cannot lock " + lockPath + ": " + std::strerror(errno);
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            state_ = State::TimedOut;
            error_ = "another program has held " + lockPath + " for " + std::to_string(wait.count()) + " ms";
            return;
        }
        std::this_thread::sleep_for(kRetryStep);
    }
}

}  // namespace kestrum
