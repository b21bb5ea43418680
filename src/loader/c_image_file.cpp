#include "loader/c_image_file.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace kestrum {

CImageFile::~CImageFile()
{
    Close();
}

bool CImageFile::Open(const std::string& path)
{
    Close();
    path_ = path;
    error_.clear();
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        error_ = path + " is a directory";
        return false;
    }
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) {
        error_ = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void CImageFile::Close()
{
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr;
}

size_t CImageFile::Read(uint8_t* data, size_t count)
{
    if (file_ == nullptr || count == 0)
        return 0;
    return std::fread(data, 1, count, file_);
}

bool CImageFile::Seek(long offset)
{
    return file_ != nullptr && std::fseek(file_, offset, SEEK_SET) == 0;
}

long CImageFile::Tell() const
{
    return file_ != nullptr ? std::ftell(file_) : -1;
}

bool CImageFile::AtEnd() const
{
    return file_ != nullptr && std::feof(file_) != 0;
}

bool CImageFile::ReadFailed() const
{
    return file_ == nullptr || std::ferror(file_) != 0;
}

long CImageFile::Size() const
{
    if (file_ == nullptr)
        return -1;
    struct stat info {};
    if (::fstat(fileno(file_), &info) != 0)
        return -1;
    return static_cast<long>(info.st_size);
}

}  // namespace kestrum
