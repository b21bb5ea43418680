#include "platform/console.h"

#include <io.h>
#include <windows.h>

namespace kestrum {

bool IsControllableTerminal(std::FILE* stream)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode))
        return false; // a file or a pipe
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

void KeepRunningWithoutOutput() {}

} // namespace kestrum
