#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrum {

// An image file opened for reading; closed on every path by the destructor.
class CImageFile {
public:
    CImageFile() = default;
    ~CImageFile();
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    // false when the file cannot be opened; ErrorText then says why.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

    // Bytes read (0 at the end or on failure).
    size_t Read(uint8_t* data, size_t count);
    bool Seek(long offset);
    long Tell() const;
    // The file's length in bytes, -1 when unknown; the position is kept.
    long Size() const;
    // After a short Read: whether it met the end of the file, or a read error.
    bool AtEnd() const;
    bool ReadFailed() const;

    const std::string& Path() const { return path_; }
    const std::string& ErrorText() const { return error_; }

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    std::string error_;
};

}  // namespace kestrum
