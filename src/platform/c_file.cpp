#include "platform/c_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrum {

namespace {

CFile::Kind KindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return CFile::Kind::Regular;
    if (S_ISDIR(mode))
        return CFile::Kind::Directory;
    if (S_ISFIFO(mode))
        return CFile::Kind::Pipe;
    if (S_ISCHR(mode))
        return CFile::Kind::CharacterDevice;
    if (S_ISBLK(mode))
        return CFile::Kind::BlockDevice;
    if (S_ISSOCK(mode))
        return CFile::Kind::Socket;
    return CFile::Kind::Other;
}

} // namespace

bool CFile::Fail()
{
    missing_ = errno == ENOENT;
    errorText_ = std::strerror(errno);
    Close();
    return false;
}

// Non-blocking, so that a FIFO cannot hold the open until a writer comes.
bool CFile::Open(const std::string& path, Access access)
{
    Close();
    missing_ = false;
    errorText_.clear();
    const int writing = O_WRONLY | O_CREAT | (access == Access::AppendCreate ? O_APPEND : 0);
    const int flags = (access == Access::Read ? O_RDONLY : writing) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    handle_ = ::open(path.c_str(), flags, 0666);
    if (handle_ < 0)
        return Fail();
    struct stat info {};
    if (::fstat(static_cast<int>(handle_), &info) != 0)
        return Fail();
    kind_ = KindOf(info.st_mode);
    size_ = info.st_size;
    return true;
}

bool CFile::IsOpen() const
{
    return handle_ >= 0;
}

long CFile::Read(void* buffer, size_t count)
{
    for (;;) {
        const ssize_t got = ::read(static_cast<int>(handle_), buffer, count);
        if (got >= 0)
            return static_cast<long>(got);
        if (errno != EINTR) {
            errorText_ = std::strerror(errno);
            return -1;
        }
    }
}

// Opened non-blocking only so that the open could not wait: a pipe without room is
// waited for here, as a blocking write waits, but not for ever.
bool CFile::Write(const void* data, size_t count)
{
    constexpr int kRoomWaitMs = 5000;
    const auto* bytes = static_cast<const char*>(data);
    size_t written = 0;
    while (written < count) {
        const ssize_t n = ::write(static_cast<int>(handle_), bytes + written, count - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd room{static_cast<int>(handle_), POLLOUT, 0};
            if (::poll(&room, 1, kRoomWaitMs) == 0) {
                errorText_ = "no room to write for " + std::to_string(kRoomWaitMs / 1000) + " s";
                return false;
            }
        } else if (n == 0 || errno != EINTR) {
            errorText_ = n == 0 ? "nothing could be written" : std::strerror(errno);
            return false;
        }
    }
    return true;
}

bool CFile::Sync()
{
    if (::fsync(static_cast<int>(handle_)) != 0) {
        errorText_ = std::strerror(errno);
        return false;
    }
    return true;
}

bool CFile::Truncate()
{
    if (::ftruncate(static_cast<int>(handle_), 0) != 0) {
        errorText_ = std::strerror(errno);
        return false;
    }
    size_ = 0;
    return true;
}

bool CFile::Close()
{
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    return fd < 0 || ::close(fd) == 0;
}

bool CFile::WriteProtected(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & 0222) == 0;
}

bool CFile::Writable(const std::string& path)
{
    return ::access(path.c_str(), W_OK) == 0;
}

bool CFile::SameFile(const std::string& first, const std::string& second)
{
    struct stat a {};
    struct stat b {};
    return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

} // namespace kestrum
