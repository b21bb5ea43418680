#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrum {

// A file opened by name without ever blocking: a named pipe or a device named by mistake
// opens at once and shows its kind, so the caller refuses it before reading a byte.
// Closes itself on every path.
class CFile {
public:
    enum class Kind { Regular, Directory, Pipe, CharacterDevice, BlockDevice, Socket, Other };
    enum class Access {
        Read,
        AppendCreate, // for appending; created empty when missing
        WriteCreate,  // for writing from the start; created empty when missing, else kept
                      // until Truncate, so that what is no regular file is never emptied
    };

    CFile() = default;
    ~CFile() { Close(); }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // false: Missing tells whether nothing is at the path, ErrorText gives the reason.
    bool Open(const std::string& path, Access access);
    bool IsOpen() const;
    bool Missing() const { return missing_; }
    const std::string& ErrorText() const { return errorText_; }

    Kind GetKind() const { return kind_; }
    int64_t Size() const { return size_; }

    // Bytes read, 0 at the end, -1 on failure (ErrorText says why).
    long Read(void* buffer, size_t count);
    // Writes every byte, waiting for room as a blocking write would; false on failure
    // (ErrorText says why).
    bool Write(const void* data, size_t count);
    // Empties a file opened for writing; false on failure (ErrorText says why).
    bool Truncate();
    // false when the system reports a failure.
    bool Close();

    // "a named pipe", "a character device", ... in words a technician knows.
    static const char* KindText(Kind kind);
    // The file at path has no write permission for anyone (Windows: the read-only
    // attribute): made read-only on purpose, which even a user who could write it respects.
    static bool WriteProtected(const std::string& path);
    // This process may write the existing file at path.
    static bool Writable(const std::string& path);
    // Both paths name one existing file, also through links or other names.
    static bool SameFile(const std::string& first, const std::string& second);

private:
    bool Fail();

    intptr_t handle_ = -1; // a descriptor, or a Windows handle
    Kind kind_ = Kind::Other;
    int64_t size_ = 0;
    bool missing_ = false;
    std::string errorText_;
};

} // namespace kestrum
