#include "loader/c_image_file.h"

#include <algorithm>

#include "platform/c_file.h"

namespace kestrum {

namespace {

// Refuses what cannot be an image before a byte is read: a pipe or a device would block
// the read, or never end.
std::string Unusable(const std::string& path, const CFile& file)
{
    if (file.GetKind() == CFile::Kind::Directory)
        return path + " is a directory";
    if (file.GetKind() != CFile::Kind::Regular)
        return path + " is not a regular file (it is " + CFile::KindText(file.GetKind()) + ")";
    if (file.Size() > CImageFile::kMaxSize)
        return path + " is too large for an image (" + std::to_string(file.Size()) + " bytes)";
    return "";
}

}  // namespace

bool CImageFile::Open(const std::string& path)
{
    Close();
    path_ = path;
    error_.clear();
    CFile file;
    if (!file.Open(path, CFile::Access::Read)) {
        error_ = path + ": " + file.ErrorText();
        return false;
    }
    error_ = Unusable(path, file);
    if (!error_.empty() || !ReadWhole(file, static_cast<long>(file.Size())))
        return false;
    open_ = true;
    return true;
}

bool CImageFile::ReadWhole(CFile& file, long size)
{
    bytes_.resize(static_cast<size_t>(size));
    size_t got = 0;
    while (got < bytes_.size()) {
        const long n = file.Read(bytes_.data() + got, bytes_.size() - got);
        if (n < 0) {
            error_ = path_ + ": " + file.ErrorText();
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
