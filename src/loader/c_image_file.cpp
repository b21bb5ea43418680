#include "loader/c_image_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_descriptor.h"

namespace kestrum {

namespace {

// What a path that is not a regular file is, in words a technician knows.
std::string KindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "a special file";
}

// Refuses what cannot be an image before a byte is read: a pipe or a device would block
// the open or the read, or never end.
std::string Unusable(const std::string& path, const struct stat& info)
{
    if (S_ISDIR(info.st_mode))
        return path + " is a directory";
    if (!S_ISREG(info.st_mode))
        return path + " is not a regular file (it is " + KindOf(info.st_mode) + ")";
    if (info.st_size > CImageFile::kMaxSize)
        return path + " is too large for an image (" + std::to_string(info.st_size) + " bytes)";
    return "";
}

}  // namespace

bool CImageFile::Open(const std::string& path)
{
    Close();
    path_ = path;
    error_.clear();
    // Non-blocking, so that a FIFO named by mistake cannot hold the open until a writer comes.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.Get() < 0) {
        error_ = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        error_ = path + ": " + std::strerror(errno);
        return false;
    }
    error_ = Unusable(path, info);
    if (!error_.empty() || !ReadWhole(file.Get(), static_cast<long>(info.st_size)))
        return false;
    open_ = true;
    return true;
}

bool CImageFile::ReadWhole(int fd, long size)
{
    bytes_.resize(static_cast<size_t>(size));
    size_t got = 0;
    while (got < bytes_.size()) {
        const ssize_t n = ::read(fd, bytes_.data() + got, bytes_.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error_ = path_ + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0) {
            error_ = path_ + " became shorter while it was read (" + std::to_string(got) + " of " +
                     std::to_string(size) + " bytes)";
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

void CImageFile::Close()
{
    bytes_.clear();
    bytes_.shrink_to_fit();
    position_ = 0;
    open_ = false;
    atEnd_ = false;
}

size_t CImageFile::Read(uint8_t* data, size_t count)
{
    if (!open_ || count == 0)
        return 0;
    const size_t n = std::min(count, bytes_.size() - std::min(position_, bytes_.size()));
    std::copy_n(bytes_.data() + position_, n, data);
    position_ += n;
    atEnd_ = n < count;
    return n;
}

bool CImageFile::Seek(long offset)
{
    if (!open_ || offset < 0)
        return false;
    position_ = static_cast<size_t>(offset);
    atEnd_ = false;
    return true;
}

long CImageFile::Tell() const
{
    return open_ ? static_cast<long>(position_) : -1;
}

long CImageFile::Size() const
{
    return open_ ? static_cast<long>(bytes_.size()) : -1;
}

bool CImageFile::AtEnd() const
{
    return open_ && atEnd_;
}

}  // namespace kestrum
