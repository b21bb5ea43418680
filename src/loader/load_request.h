#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "loader/load_timing.h"
#include "platform/c_event.h"
#include "platform/serial_device.h"

namespace kestrum {

enum CaptureMethod : int { kPowerOnCapture = 0, kSoftBreakCapture = 1, kHardwareReset = 2 };
// The device kinds a load is for, numbered as the Device page lists them.
enum LoadDeviceKind : int { kLoadReceiver = 0, kLoadPowerBoard = 1 };

// Where the Capturing dialog goes, in screen coordinates.
struct CaptureArea {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// An image as the run read it and sends it: for the production record.
struct ImageDigest {
    std::string path;
    long size = 0;
    std::string sha256;  // 64 lower-case hexadecimal digits
};

// One load run: filled by the starter before the worker begins, then read by the worker.
// The outputs (done flag, result, the open device) cross threads and are guarded.
// Owned jointly by the starter and the worker (shared_ptr), so neither outlives it.
class LoadRequest {
public:
    std::string portName;
    std::optional<std::string> flashPath;
    bool checkFlash = false;
    std::optional<std::string> ramPath;
    bool checkRam = false;
    uint32_t baudRate = 115200;
    int captureMethod = kPowerOnCapture;
    int flowControl = 0;
    int32_t statusLink = -1;
    std::shared_ptr<CEvent> cancel = std::make_shared<CEvent>(CEvent::ResetMode::Auto);
    int softBreakVariant = 0;  // 1: "Sleep" instead of "Reset"
    int deviceKind = kLoadReceiver;
    CaptureArea captureArea;
    std::function<void()> progress;  // one step of the progress display
    // Where the run's notifications (WM_LOADER_STAGE, WM_CAPTURE_PROMPT) go; empty: to the
    // message pump's sink, i.e. the main window. kestrum-cli loads several ports at once
    // and must know whose notification it is.
    std::function<void(int message, intptr_t wParam, intptr_t lParam)> notify;
    LoadTiming timing;

    bool Done() const { return done_.load(); }
    int Result() const { return result_.load(); }
    // Waits at most timeoutMs (negative: no limit) for the run to end.
    bool WaitDone(int timeoutMs) { return finished_.Wait(timeoutMs); }

    // Asks the run to stop at once: signals the cancel event and ends any wait on the
    // line. The run ends with "aborted by User" as soon as it notices.
    void RequestStop();
    bool StopRequested() const { return stop_.load(); }
    // Sleeps ms, ending early on a stop request; false when stopped.
    bool PauseUnlessStopped(int ms) { return !stopEvent_.Wait(ms); }
    // Hands a notification to notify, or to the message pump without one.
    void Notify(int message, intptr_t wParam, intptr_t lParam) const;

    // Worker side.
    void MarkRunning();
    void MarkDone(int result);
    void AttachDevice(ISerialDevice* device);
    // The images the run opened, in the order opened (RAM, then Flash). Any thread.
    void NoteImage(ImageDigest image);
    std::vector<ImageDigest> Images() const;

private:
    std::atomic<bool> done_{true};
    std::atomic<int> result_{0};
    std::atomic<bool> stop_{false};
    CEvent finished_{CEvent::ResetMode::Manual, false};
    CEvent stopEvent_{CEvent::ResetMode::Manual, false};
    std::mutex deviceMutex_;
    ISerialDevice* device_ = nullptr;  // the run's open device, so a stop can release its waits
    mutable std::mutex imagesMutex_;
    std::vector<ImageDigest> images_;
};

}  // namespace kestrum
