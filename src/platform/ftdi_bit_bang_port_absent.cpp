// The FTDI bit-bang port of a build without libftdi1 (CMake picks this file then).
#include "platform/ftdi_bit_bang_port.h"

namespace kestrum {

namespace {

class AbsentFtdiPort : public IBitBangPort {
public:
    bool Open(const UsbDeviceLocation&, uint8_t, uint32_t) override { return false; }
    Transfer Exchange(std::span<const uint8_t>, std::span<uint8_t>) override { return Transfer::Failed; }
    void Close() override {}
    std::string LastError() const override
    {
        return "bit-bang through an FTDI adapter is not available in this build (made without libftdi1)";
    }
};

} // namespace

std::unique_ptr<IBitBangPort> CreateFtdiBitBangPort()
{
    return std::make_unique<AbsentFtdiPort>();
}

} // namespace kestrum
