#include "loader/load_request.h"

#include "platform/message_pump.h"

namespace kestrum {

void LoadRequest::RequestStop()
{
    stop_ = true;
    stopEvent_.Set();
    cancel->Set();
    std::lock_guard lock(deviceMutex_);
    if (device_ != nullptr)
        device_->Release();
}

void LoadRequest::Notify(int message, intptr_t wParam, intptr_t lParam) const
{
    if (notify)
        notify(message, wParam, lParam);
    else
        MessagePump::Post(message, wParam, lParam);
}

void LoadRequest::MarkRunning()
{
    finished_.Reset();
    done_ = false;
}

void LoadRequest::MarkDone(int result)
{
    result_ = result;
    done_ = true;
    finished_.Set();
}

void LoadRequest::AttachDevice(ISerialDevice* device)
{
    std::lock_guard lock(deviceMutex_);
    device_ = device;
    if (device_ != nullptr && stop_)
        device_->Release();
}

void LoadRequest::NoteImage(ImageDigest image)
{
    std::lock_guard lock(imagesMutex_);
    images_.push_back(std::move(image));
}

std::vector<ImageDigest> LoadRequest::Images() const
{
    std::lock_guard lock(imagesMutex_);
    return images_;
}

}  // namespace kestrum
