#include "platform/file_replace.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_descriptor.h"

namespace kestrum {

namespace {

bool WriteAll(int fd, const std::string& content)
{
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t written = ::write(fd, content.data() + done, content.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

// The file a rename must replace: the target of a symbolic link, not the link itself.
std::filesystem::path ReplaceTarget(const std::string& path)
{
    std::error_code error;
    if (std::filesystem::is_symlink(path, error)) {
        const auto target = std::filesystem::weakly_canonical(path, error);
        if (!error) {
            return target;
        }
    }
    return path;
}

void SyncDirectory(const std::filesystem::path& dir)
{
    FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Valid()) {
        ::fsync(fd.Get());  // best effort: the rename itself is already atomic
    }
}

}  // namespace

bool ReplaceFileContent(const std::string& path, const std::string& content, std::string& error)
{
    const std::filesystem::path target = ReplaceTarget(path);
    const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
    std::string temp = target.string() + ".XXXXXX";
    FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.Valid()) {
        error = "Cannot create a temporary file in " + dir.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    const mode_t mode = ::stat(target.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0644;
    const bool ok = ::fchmod(fd.Get(), mode) == 0 && WriteAll(fd.Get(), content) && ::fsync(fd.Get()) == 0 &&
                    fd.Close() && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        error = "Cannot write " + target.string() + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    SyncDirectory(dir);
    return true;
}

std::string ReplaceTargetPath(const std::string& path)
{
    return ReplaceTarget(path).string();
}

}  // namespace kestrum
