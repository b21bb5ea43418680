#include "loader/load_request.h"

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

}  // namespace kestrum
