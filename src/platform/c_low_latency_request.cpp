#include "platform/c_low_latency_request.h"

namespace kestrum {

CLowLatencyRequest::CLowLatencyRequest(std::shared_ptr<ISerialFlags> flags) : flags_(std::move(flags)) {}

// A driver may take the flags and drop a bit it does not know, so the mode counts as
// granted only when it reads back.
LowLatencyMode CLowLatencyRequest::Ask(int fd)
{
    int flags = 0;
    if (!flags_->Read(fd, flags))
        return mode_ = LowLatencyMode::Refused;
    if (flags & kLowLatencySerialFlag)
        return mode_ = LowLatencyMode::AlreadyOn;
    if (!flags_->Write(fd, flags | kLowLatencySerialFlag))
        return mode_ = LowLatencyMode::Refused;
    int now = 0;
    if (!flags_->Read(fd, now) || !(now & kLowLatencySerialFlag)) {
        flags_->Write(fd, flags); // not taken as asked: the driver stays as found
        return mode_ = LowLatencyMode::Refused;
    }
    found_ = flags;
    return mode_ = LowLatencyMode::Granted;
}

void CLowLatencyRequest::TakeBack(int fd)
{
    if (mode_ == LowLatencyMode::Granted)
        flags_->Write(fd, found_);
    mode_ = LowLatencyMode::NotAsked;
}

} // namespace kestrum
