#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/bit_bang_port.h"
#include "platform/serial_line_batch.h"

namespace kestrum {

// A serial port's control lines carried by a USB adapter's pins in synchronous bit-bang
// mode. A batch of line changes and modem-status reads becomes one transfer of pin states
// (one state per change) and the samples that come back answer the reads, so the far end
// sees the same signals in the same order as through the serial driver, while a change
// costs one pin state instead of a USB control transfer of its own.
class CBitBangLines {
public:
    // The pin rate unless a setting asks for another; the reasoning is beside its value.
    static const uint32_t kDefaultStatesPerSecond;

    explicit CBitBangLines(std::unique_ptr<IBitBangPort> port);
    ~CBitBangLines();
    CBitBangLines(const CBitBangLines&) = delete;
    CBitBangLines& operator=(const CBitBangLines&) = delete;

    // Enters bit-bang mode on the adapter and puts every line off. false with LastError.
    bool Open(const UsbDeviceLocation& device, uint32_t statesPerSecond);
    // The stop check is asked before the transfer, never during it.
    LineBatchResult Run(const SerialLineBatch& batch, const std::function<bool()>& stopped);
    // Gives the adapter back to its serial driver.
    void Close();
    bool IsOpen() const { return open_; }
    std::string LastError() const;
    // Pin states handed to the adapter since construction: the bytes on the USB bus.
    uint64_t StatesWritten() const { return statesWritten_; }

private:
    LineBatchResult Transfer(const std::vector<uint8_t>& states, const std::vector<size_t>& readAt);

    std::unique_ptr<IBitBangPort> port_;
    bool open_ = false;
    uint8_t pins_ = 0;
    uint64_t statesWritten_ = 0;
    std::string error_;
};

} // namespace kestrum
