#include "platform/message_pump.h"

#include <mutex>

namespace kestrum {

namespace {

std::mutex hookMutex;
MessagePump::PumpHook pumpHook;
MessagePump::MessageSink messageSink;

}  // namespace

void MessagePump::InstallPumpHook(PumpHook hook)
{
    std::lock_guard lock(hookMutex);
    pumpHook = std::move(hook);
}

void MessagePump::InstallMessageSink(MessageSink sink)
{
    std::lock_guard lock(hookMutex);
    messageSink = std::move(sink);
}

void MessagePump::DispatchPending()
{
    PumpHook hook;
    {
        std::lock_guard lock(hookMutex);
        hook = pumpHook;
    }
    if (hook)
        hook();
}

void MessagePump::Post(int message, intptr_t wParam, intptr_t lParam)
{
    MessageSink sink;
    {
        std::lock_guard lock(hookMutex);
        sink = messageSink;
    }
    if (sink)
        sink(message, wParam, lParam);
}

}  // namespace kestrum
