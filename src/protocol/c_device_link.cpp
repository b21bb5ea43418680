#include "protocol/c_device_link.h"

#include <cstdarg>
#include <cstdio>

#include "link/c_port.h"
#include "platform/closing_flag.h"

namespace kestrum {

CDeviceLink::CDeviceLink(const ProtocolTiming& timing) : timing_(timing) {}

void CDeviceLink::RememberCancelEvent(CEvent* cancel)
{
    cancel_ = cancel;
    cancelSeen_ = false;
}

bool CDeviceLink::CancelSignalled()
{
    if (!cancelSeen_ && cancel_ != nullptr && cancel_->Test())
        cancelSeen_ = true;
    return cancelSeen_;
}

bool CDeviceLink::IsCancelled()
{
    if (!ClosingFlag::IsSet() && !CancelSignalled())
        return false;
    Post(kConnectingAborted);
    return true;
}

bool CDeviceLink::StopIfCancelled(CPort& port)
{
    return IsCancelled() || port.GetHandle() == nullptr;
}

bool CDeviceLink::StopRequested(CPort& port)
{
    return ClosingFlag::IsSet() || CancelSignalled() || port.Aborted() || port.GetHandle() == nullptr;
}

std::string FormatStatus(const char* format, ...)
{
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

}  // namespace kestrum
