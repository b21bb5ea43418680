#include "platform/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace kestrum {

namespace {

// What a path that is not a regular file is, in words a technician knows.
std::string KindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "a special file";
}

std::string Unusable(const std::string& path, mode_t mode)
{
    if (S_ISDIR(mode))
        return path + " is a directory";
    if (!S_ISREG(mode))
        return path + " is not a regular file (it is " + KindOf(mode) + ")";
    return "";
}

std::string SystemProblem(const std::string& path)
{
    return path + ": " + std::strerror(errno);
}

}  // namespace

RegularFile OpenRegularFile(const std::string& path, FileAccess access)
{
    RegularFile file;
    // Looked at before the open, so that not even opening touches a device or a pipe.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        file.problem = Unusable(path, info.st_mode);
    } else if (errno != ENOENT || access == FileAccess::Read) {
        file.problem = SystemProblem(path);
    }
    if (!file.problem.empty())
        return file;
    // Non-blocking all the same: the path may have been replaced by a pipe meanwhile.
    const int flags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (access == FileAccess::Read ? O_RDONLY : O_WRONLY | O_CREAT);
    FileDescriptor descriptor(::open(path.c_str(), flags, 0644));
    if (!descriptor.Valid() || ::fstat(descriptor.Get(), &info) != 0) {
        file.problem = SystemProblem(path);
        return file;
    }
    file.problem = Unusable(path, info.st_mode);
    if (!file.problem.empty())
        return file;
    if (access == FileAccess::Write && ::ftruncate(descriptor.Get(), 0) != 0) {
        file.problem = SystemProblem(path);
        return file;
    }
    file.size = access == FileAccess::Write ? 0 : static_cast<int64_t>(info.st_size);
    file.descriptor = std::move(descriptor);
    return file;
}

bool SameFile(const std::string& first, const std::string& second)
{
    struct stat a {};
    struct stat b {};
    return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

}  // namespace kestrum
