#include "platform/console.h"

#include <csignal>
#include <unistd.h>

namespace kestrum {

bool IsControllableTerminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) != 0;
}

void KeepRunningWithoutOutput()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
}

} // namespace kestrum
