#include "platform/c_file.h"

#include <windows.h>

#include "platform/system_error_text.h"

namespace kestrum {

namespace {

HANDLE AsHandle(intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

CFile::Kind KindOf(HANDLE file)
{
    switch (::GetFileType(file)) {
    case FILE_TYPE_DISK: {
        BY_HANDLE_FILE_INFORMATION info{};
        const bool directory = ::GetFileInformationByHandle(file, &info) &&
                               (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        return directory ? CFile::Kind::Directory : CFile::Kind::Regular;
    }
    case FILE_TYPE_CHAR:
        return CFile::Kind::CharacterDevice;
    case FILE_TYPE_PIPE:
        return CFile::Kind::Pipe;
    default:
        return CFile::Kind::Other;
    }
}

} // namespace

bool CFile::Fail()
{
    const DWORD error = ::GetLastError();
    missing_ = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    errorText_ = SystemErrorText(error);
    Close();
    return false;
}

// Shared for reading and writing, as a POSIX open is: another program may have the
// file open. Directories open too (backup semantics), so they are told apart.
bool CFile::Open(const std::string& path, Access access)
{
    Close();
    missing_ = false;
    errorText_.clear();
    const bool read = access == Access::Read;
    const DWORD rights = read ? GENERIC_READ : access == Access::AppendCreate ? FILE_APPEND_DATA : GENERIC_WRITE;
    const HANDLE file = ::CreateFileA(path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, read ? OPEN_EXISTING : OPEN_ALWAYS, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail();
    handle_ = reinterpret_cast<intptr_t>(file);
    kind_ = KindOf(file);
    LARGE_INTEGER size{};
    size_ = kind_ == Kind::Regular && ::GetFileSizeEx(file, &size) ? size.QuadPart : 0;
    return true;
}

bool CFile::IsOpen() const
{
    return handle_ != -1;
}

long CFile::Read(void* buffer, size_t count)
{
    DWORD got = 0;
    constexpr size_t kMostAtOnce = size_t{1} << 30; // what a long (32 bits here) can count
    const DWORD asked = static_cast<DWORD>(count > kMostAtOnce ? kMostAtOnce : count);
    if (!::ReadFile(AsHandle(handle_), buffer, asked, &got, nullptr)) {
        errorText_ = SystemErrorText(::GetLastError());
        return -1;
    }
    return static_cast<long>(got);
}

bool CFile::Write(const void* data, size_t count)
{
    const auto* bytes = static_cast<const char*>(data);
    constexpr size_t kMostAtOnce = size_t{1} << 30;
    while (count > 0) {
        DWORD written = 0;
        const DWORD asked = static_cast<DWORD>(count > kMostAtOnce ? kMostAtOnce : count);
        if (!::WriteFile(AsHandle(handle_), bytes, asked, &written, nullptr)) {
            errorText_ = SystemErrorText(::GetLastError());
            return false;
        }
        if (written == 0) {
            errorText_ = "nothing could be written";
            return false;
        }
        bytes += written;
        count -= written;
    }
    return true;
}

bool CFile::Sync()
{
    if (!::FlushFileBuffers(AsHandle(handle_))) {
        errorText_ = SystemErrorText(::GetLastError());
        return false;
    }
    return true;
}

bool CFile::Truncate()
{
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(AsHandle(handle_), start, nullptr, FILE_BEGIN) || !::SetEndOfFile(AsHandle(handle_))) {
        errorText_ = SystemErrorText(::GetLastError());
        return false;
    }
    size_ = 0;
    return true;
}

bool CFile::Close()
{
    const intptr_t handle = handle_;
    handle_ = -1;
    return handle == -1 || ::CloseHandle(AsHandle(handle));
}

bool CFile::WriteProtected(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool CFile::Writable(const std::string& path)
{
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

namespace {

// The volume and the file's number on it, which every name of the file shares.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info)
{
    const HANDLE file = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    return known;
}

} // namespace

bool CFile::SameFile(const std::string& first, const std::string& second)
{
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return FileIdentity(first, a) && FileIdentity(second, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

} // namespace kestrum
