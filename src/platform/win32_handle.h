#pragma once

#include <windows.h>

namespace kestrum {

// Owns a Windows handle and closes it on every path out of a scope.
class CWin32Handle {
public:
    explicit CWin32Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~CWin32Handle() { Close(); }
    CWin32Handle(const CWin32Handle&) = delete;
    CWin32Handle& operator=(const CWin32Handle&) = delete;

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    void Reset(HANDLE handle)
    {
        Close();
        handle_ = handle;
    }
    // Closes now; false when the system reports a failure.
    bool Close()
    {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle == INVALID_HANDLE_VALUE || handle == nullptr || ::CloseHandle(handle);
    }

private:
    HANDLE handle_;
};

} // namespace kestrum
