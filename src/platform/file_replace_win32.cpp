#include "platform/file_replace.h"

#include <algorithm>
#include <filesystem>

#include <windows.h>

#include "platform/system_error_text.h"
#include "platform/win32_handle.h"

namespace kestrum {

namespace {

bool WriteAll(HANDLE file, const std::string& content)
{
    size_t done = 0;
    while (done < content.size()) {
        const size_t piece = std::min<size_t>(content.size() - done, 1u << 20);
        DWORD written = 0;
        if (!::WriteFile(file, content.data() + done, static_cast<DWORD>(piece), &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// A name beside the target that no other file has: the process and a counter.
HANDLE CreateTemporaryBeside(const std::string& target, std::string& temp)
{
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temp = target + "." + std::to_string(::GetCurrentProcessId()) + "-" +
               std::to_string(::GetTickCount64() + attempt) + ".tmp";
        const HANDLE file = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

std::string ReplaceTarget(const std::string& path)
{
    std::error_code error;
    if (std::filesystem::is_symlink(path, error)) {
        const auto target = std::filesystem::weakly_canonical(path, error);
        if (!error)
            return target.string();
    }
    return path;
}

} // namespace

// The rename with MOVEFILE_WRITE_THROUGH returns only once it is on the disk.
bool ReplaceFileContent(const std::string& path, const std::string& content, std::string& error)
{
    const std::string target = ReplaceTarget(path);
    std::string temp;
    CWin32Handle file(CreateTemporaryBeside(target, temp));
    if (file.Get() == INVALID_HANDLE_VALUE) {
        const std::filesystem::path dir = std::filesystem::path(target).parent_path();
        error = "Cannot create a temporary file in " + (dir.empty() ? std::string(".") : dir.string()) + ": " +
                SystemErrorText(::GetLastError());
        return false;
    }
    const bool ok = WriteAll(file.Get(), content) && ::FlushFileBuffers(file.Get()) && file.Close() &&
                    ::MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        error = "Cannot write " + target + ": " + SystemErrorText(::GetLastError());
        file.Close();
        ::DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

std::string ReplaceTargetPath(const std::string& path)
{
    return ReplaceTarget(path);
}

} // namespace kestrum
