#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "platform/bit_bang_port.h"
#include "sim/device_model.h"

namespace kestrum {

// An FT232R USB serial adapter as the USB side sees it in synchronous bit-bang mode, with
// a simulated device (the VDK-1) at the far end of its cable. Its serial side is a sim
// port registered for the same device model; while bit-bang mode holds the chip, that
// port is taken, as /dev/ttyUSBn is gone while its kernel driver is detached.
//
// Pins: D0 TXD, D1 RXD, D2 RTS#, D3 CTS#, D4 DTR#, D5 DSR#, D6 DCD#, D7 RI#. Each state
// written sets the output pins at one tick of the bit-bang clock, and for each state the
// chip returns every pin as it was just before that state was applied. The cable's RS-232
// transceiver inverts every pin onto the line: a low DTR# or RTS# raises the line, a low
// TXD is a break, a raised DSR pulls DSR# low. Inputs nobody drives read high.
class Ft232rModel {
public:
    struct Options {
        UsbDeviceLocation location{1, 5, 0};
        // Paced: each state takes one tick of the clock in real time; unpaced: none.
        bool paced = false;
        // false: the chip refuses the mode, as chips before the R series do.
        bool synchronousBitBang = true;
        // Not empty: the USB device cannot be opened, for this reason (its node's rights).
        std::string openRefusal;
    };

    Ft232rModel(std::shared_ptr<DeviceModel> unit, Options options);

    // The chip as libftdi drives it (SimBitBangPort calls these).
    bool Open(const UsbDeviceLocation& device, uint8_t outputs, uint32_t statesPerSecond, std::string& error);
    IBitBangPort::Transfer Exchange(std::span<const uint8_t> states, std::span<uint8_t> samples,
                                    std::string& error);
    void Close();

    // The adapter is pulled out: the transfer under way and every later one fail as gone.
    void Unplug();
    // Called midway through each transfer, on the transfer's thread, with nothing locked.
    void WatchTransfers(std::function<void()> midway) { midway_ = std::move(midway); }

    bool DriverAttached() const { return driverAttached_; }
    int Detaches() const { return detaches_; }
    int Transfers() const { return transfers_; }
    uint64_t StatesClocked() const { return statesClocked_; }
    uint32_t StatesPerSecond() const { return statesPerSecond_; }

private:
    uint8_t Levels() const;
    PcLines CableLines(uint8_t levels) const;
    uint8_t Sample() const;
    SimTime TickTime(SimTime start, size_t index) const;

    const std::shared_ptr<DeviceModel> unit_;
    const Options options_;
    std::function<void()> midway_;
    std::atomic<bool> unplugged_{false};
    std::atomic<bool> driverAttached_{true};
    std::atomic<int> detaches_{0};
    std::atomic<int> transfers_{0};
    std::atomic<uint64_t> statesClocked_{0};
    // Used by the holder of bit-bang mode only.
    bool bitBang_ = false;
    uint8_t outputs_ = 0;
    uint8_t latch_ = 0xFF;
    uint32_t statesPerSecond_ = 0;
    PcLines lines_;
    SimTime clock_{0}; // when the last state took effect
};

} // namespace kestrum
