#pragma once

#include <cstdint>
#include <string>

#include "platform/file_descriptor.h"

namespace kestrum {

enum class FileAccess {
    Read,
    Write,  // created when missing; emptied once it is known to be a regular file
};

struct RegularFile {
    FileDescriptor descriptor{-1};  // not valid when the file cannot be used
    int64_t size = 0;               // at the open
    std::string problem;            // why not, naming the path
};

// Opens a file the program reads or writes whole (an image, a trace) without ever waiting:
// a named pipe would hold the open until its other end comes, a device may never end, so
// what is not a regular file is refused for what it is, before it is opened. The one place
// that knows how the system opens files this way.
RegularFile OpenRegularFile(const std::string& path, FileAccess access);

// Whether two paths name one file, also through links or another name for its folder;
// false when either cannot be looked up.
bool SameFile(const std::string& first, const std::string& second);

}  // namespace kestrum
