#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kestrum {

// Where a USB adapter sits: its bus and device numbers (sysfs busnum and devnum, the
// /dev/bus/usb/BBB/DDD node) and the interface of its serial port (bInterfaceNumber;
// chips with several ports have one interface each).
struct UsbDeviceLocation {
    int bus = 0;
    int address = 0;
    int interfaceNumber = 0;
};

// The eight pins of a USB serial adapter's UART in synchronous bit-bang mode: each byte
// written sets the output pins, and for each one a byte comes back with every pin as it
// was just before that byte was applied. The real chip (through libftdi) and the
// simulator's model implement it; nothing above src/platform sees more of either.
class IBitBangPort {
public:
    enum class Transfer { Done, Gone, Failed };

    virtual ~IBitBangPort() = default;

    // Takes the USB device from its kernel driver (so its tty disappears until Close gives
    // it back) and puts the interface's pins into synchronous bit-bang mode: the pins in
    // outputs are driven, the others read, at most statesPerSecond states a second. false
    // with LastError when that fails; nothing is held then.
    virtual bool Open(const UsbDeviceLocation& device, uint8_t outputs, uint32_t statesPerSecond) = 0;
    // Writes states in order; samples (as many) receives the pins before each. Gone: the
    // adapter has vanished; Failed: it is there but the transfer did not complete. A
    // transfer is bounded in time by its length at the pin rate.
    virtual Transfer Exchange(std::span<const uint8_t> states, std::span<uint8_t> samples) = 0;
    // Leaves bit-bang mode and gives the USB device back to its kernel driver.
    virtual void Close() = 0;
    virtual std::string LastError() const = 0;
};

} // namespace kestrum
