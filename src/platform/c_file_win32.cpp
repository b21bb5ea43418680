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
    const HANDLE file = ::CreateFileA(path.c_str(), read ? GENERIC_READ : FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      read ? OPEN_EXISTING : OPEN_ALWAYS, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

} // namespace kestrum
