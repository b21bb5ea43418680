#include "platform/interrupt_signals.h"

#include <csignal>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

namespace kestrum {

namespace {

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

CInterruptSignals::CInterruptSignals()
{
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

CInterruptSignals::~CInterruptSignals()
{
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void CInterruptSignals::KeepFromThisThread()
{
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool CInterruptSignals::Wait(int ms)
{
    const sigset_t set = StopSignals();
    const timespec slice{ms / 1000, static_cast<long>(ms % 1000) * 1000 * 1000};
    return sigtimedwait(&set, nullptr, &slice) > 0;
}

// write(2) and _exit(2) only, no allocation.
void CInterruptSignals::EndProcessNow(const char* note, const std::string& text, int status)
{
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, note, std::strlen(note));
    if (!text.empty()) {
        written = ::write(STDOUT_FILENO, text.data(), text.size());
        written = ::write(STDOUT_FILENO, "\n", 1);
    }
    ::_exit(status);
}

} // namespace kestrum
