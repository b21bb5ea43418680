#pragma once

namespace kestrum {

// While one exists, long waits and status posts on this thread do not run Qt's event
// processing. Widgets being built or shown must not have the event loop run under them
// (a posted layout or deletion would act on a half-shown window), and a status text set
// then is shown by the main window's timer all the same.
class CPumpPause {
public:
    CPumpPause() { ++depth_; }
    ~CPumpPause() { --depth_; }
    CPumpPause(const CPumpPause&) = delete;
    CPumpPause& operator=(const CPumpPause&) = delete;

    static bool Active() { return depth_ > 0; }

private:
    static inline thread_local int depth_ = 0;
};

}  // namespace kestrum
