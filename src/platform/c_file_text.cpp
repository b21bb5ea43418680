#include "platform/c_file.h"

namespace kestrum {

const char* CFile::KindText(Kind kind)
{
    switch (kind) {
    case Kind::Regular:
        return "a regular file";
    case Kind::Directory:
        return "a directory";
    case Kind::Pipe:
        return "a named pipe";
    case Kind::CharacterDevice:
        return "a character device";
    case Kind::BlockDevice:
        return "a block device";
    case Kind::Socket:
        return "a socket";
    default:
        return "a special file";
    }
}

} // namespace kestrum
