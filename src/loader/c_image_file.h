#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrum {

class CFile;

// An image file, read whole when it is opened. What goes to the device is the file as it
// was at that moment: a file that is rewritten, cut short or replaced during the load
// changes nothing, and a file that cannot be read to its length is refused before any
// byte goes out.
class CImageFile {
public:
    // Larger than any image a boot loader takes (the Flash stage numbers 65536 blocks of
    // 512 bytes); a bigger file is refused rather than read into memory.
    static constexpr long kMaxSize = 64L << 20;

    CImageFile() = default;
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    // false when the file cannot be used (missing, not a regular file, too large, or not
    // readable to its length); ErrorText then says why.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return open_; }

    // Bytes read (0 at the end). A read that gets less than asked for meets the end.
    size_t Read(uint8_t* data, size_t count);
    bool Seek(long offset);
    long Tell() const;
    // The image's length in bytes, -1 when not open.
    long Size() const;
    // Whether a read has met the end of the image (cleared by Seek).
    bool AtEnd() const;
    // Reads come from memory once the file is open, so they cannot fail.
    bool ReadFailed() const { return !open_; }

    const std::string& Path() const { return path_; }
    // The whole image, as read when it was opened.
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    const std::string& ErrorText() const { return error_; }

private:
    bool ReadWhole(CFile& file, long size);

    std::vector<uint8_t> bytes_;
    size_t position_ = 0;
    bool open_ = false;
    bool atEnd_ = false;
    std::string path_;
    std::string error_;
};

}  // namespace kestrum
