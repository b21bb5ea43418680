#include "platform/interrupt_signals.h"

#include <cstring>

#include <windows.h>

namespace kestrum {

namespace {

// Counts the requests for the waiting thread; the handler runs on a thread of its own
// that Windows starts for each console event.
HANDLE requests = nullptr;
// Windows ends the process as soon as the handler of a closing console returns, and
// gives it a few seconds at most: the handler holds it meanwhile so the work can stop.
constexpr DWORD kCloseHoldMs = 4500;

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        ::ReleaseSemaphore(requests, 1, nullptr);
        return TRUE;
    case CTRL_CLOSE_EVENT:
        ::ReleaseSemaphore(requests, 1, nullptr);
        ::Sleep(kCloseHoldMs);
        return TRUE;
    default:
        return FALSE; // log-off and shut-down: the system's default
    }
}

void WriteRaw(DWORD stream, const char* data, size_t count)
{
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(stream), data, static_cast<DWORD>(count), &written, nullptr);
}

} // namespace

CInterruptSignals::CInterruptSignals()
{
    requests = ::CreateSemaphoreA(nullptr, 0, LONG_MAX, nullptr);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

CInterruptSignals::~CInterruptSignals()
{
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    ::CloseHandle(requests);
    requests = nullptr;
}

void CInterruptSignals::KeepFromThisThread() {}

bool CInterruptSignals::Wait(int ms)
{
    return ::WaitForSingleObject(requests, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
}

// TerminateProcess on itself runs nothing more, as _exit does.
void CInterruptSignals::EndProcessNow(const char* note, const std::string& text, int status)
{
    WriteRaw(STD_ERROR_HANDLE, note, std::strlen(note));
    if (!text.empty()) {
        WriteRaw(STD_OUTPUT_HANDLE, text.data(), text.size());
        WriteRaw(STD_OUTPUT_HANDLE, "\n", 1);
    }
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
    ::ExitProcess(static_cast<UINT>(status)); // not reached
}

} // namespace kestrum
