#pragma once

#include <cstdint>
#include <functional>

namespace kestrum {

// Private notification numbers, counted from the platform's first private message.
constexpr int WM_USER = 1024;
constexpr int WM_LOADER_STAGE = WM_USER + 100;
constexpr int WM_CAPTURE_PROMPT = WM_USER + 101;
constexpr int WM_AUTO_LOAD = WM_USER + 102;
constexpr int WM_START_LOAD = WM_USER + 110;

// The core runs without a window system. A GUI installs two hooks here: one that
// dispatches the pending messages of the calling thread (so long waits keep Cancel
// buttons alive), and a sink that receives notifications posted from any thread.
// Without a GUI both do nothing.
class MessagePump {
public:
    using PumpHook = std::function<void()>;
    using MessageSink = std::function<void(int message, intptr_t wParam, intptr_t lParam)>;

    static void InstallPumpHook(PumpHook hook);
    static void InstallMessageSink(MessageSink sink);

    // Dispatches pending messages of the calling thread through the installed hook.
    static void DispatchPending();

    // Hands a notification to the installed sink; safe from any thread.
    static void Post(int message, intptr_t wParam = 0, intptr_t lParam = 0);
};

}  // namespace kestrum
