#include "loader/c_image_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "platform/regular_file.h"

namespace kestrum {

bool CImageFile::Open(const std::string& path)
{
    Close();
    path_ = path;
    error_.clear();
    const RegularFile file = OpenRegularFile(path, FileAccess::Read);
    if (!file.descriptor.Valid()) {
        error_ = file.problem;
        return false;
    }
    if (file.size > kMaxSize) {
        error_ = path + " is too large for an image (" + std::to_string(file.size) + " bytes)";
        return false;
    }
    if (!ReadWhole(file.descriptor.Get(), static_cast<long>(file.size)))
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
