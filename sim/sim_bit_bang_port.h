#pragma once

#include <memory>

#include "platform/bit_bang_port.h"
#include "sim/ft232r_model.h"

namespace kestrum {

// What libftdi gives the program for a simulated adapter: the bit-bang port of an
// Ft232rModel, in-process, so the programmer runs against the model as against the chip.
class SimBitBangPort : public IBitBangPort {
public:
    explicit SimBitBangPort(std::shared_ptr<Ft232rModel> adapter) : adapter_(std::move(adapter)) {}
    ~SimBitBangPort() override { Close(); }

    bool Open(const UsbDeviceLocation& device, uint8_t outputs, uint32_t statesPerSecond) override;
    Transfer Exchange(std::span<const uint8_t> states, std::span<uint8_t> samples) override;
    void Close() override;
    std::string LastError() const override { return error_; }

private:
    const std::shared_ptr<Ft232rModel> adapter_;
    bool open_ = false;
    std::string error_;
};

} // namespace kestrum
