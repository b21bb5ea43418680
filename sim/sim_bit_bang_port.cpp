#include "sim/sim_bit_bang_port.h"

namespace kestrum {

bool SimBitBangPort::Open(const UsbDeviceLocation& device, uint8_t outputs, uint32_t statesPerSecond)
{
    Close();
    error_.clear();
    open_ = adapter_->Open(device, outputs, statesPerSecond, error_);
    return open_;
}

IBitBangPort::Transfer SimBitBangPort::Exchange(std::span<const uint8_t> states, std::span<uint8_t> samples)
{
    if (!open_) {
        error_ = "not open";
        return Transfer::Failed;
    }
    return adapter_->Exchange(states, samples, error_);
}

void SimBitBangPort::Close()
{
    if (open_)
        adapter_->Close();
    open_ = false;
}

} // namespace kestrum
