#include "platform/c_file_lock.h"

#include <thread>

#include <windows.h>

#include "platform/system_error_text.h"

namespace kestrum {

namespace {

// LockFileEx waits without a time-out of its own: the lock is tried this often instead.
constexpr auto kRetryStep = std::chrono::milliseconds(10);

HANDLE AsHandle(intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

// Shared for reading, writing and deleting, so the lock file never stands in the way of
// another program's open: only the byte range lock excludes.
CFileLock::CFileLock(const std::string& lockPath, std::chrono::milliseconds wait)
{
    const HANDLE file = ::CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error_ = "Cannot open " + lockPath + ": " + SystemErrorText(::GetLastError());
        return;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    Acquire(lockPath, wait);
}

CFileLock::~CFileLock()
{
    if (handle_ != -1)
        ::CloseHandle(AsHandle(handle_));  // releases the range lock too
}

void CFileLock::Acquire(const std::string& lockPath, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        OVERLAPPED at{};
        if (::LockFileEx(AsHandle(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            state_ = State::Held;
            return;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
            error_ = "Cannot lock " + lockPath + ": " + SystemErrorText(error);
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
