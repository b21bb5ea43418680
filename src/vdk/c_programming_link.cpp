#include "vdk/c_programming_link.h"

#include "platform/serial_device_factory.h"
#include "platform/tick_count.h"

namespace kestrum {

namespace {

constexpr uint8_t kEnableFirst = 0xAC;
constexpr uint8_t kEnableSecond = 0x53;
constexpr int kBitsPerByte = 8;
constexpr int kCommandBits = 32;

}  // namespace

CProgrammingLink::CProgrammingLink(DeviceFactory factory, VdkWaits waits)
    : factory_(std::move(factory)), waits_(waits)
{
    if (!factory_)
        factory_ = [](const std::string& name) { return CreateSerialDevice(name); };
}

CProgrammingLink::~CProgrammingLink() { Close(); }

bool CProgrammingLink::Open(const std::string& portName, uint32_t baudRate)
{
    if (IsOpen() && !Close())
        return false;
    portName_ = portName;
    // Our devices never block and keep their own queues, so there are no driver queue
    // sizes or read time-outs to set; the link moves no data bytes anyway.
    std::unique_ptr<ISerialDevice> device = factory_(portName);
    if (!device || !device->Open(portName))
        return false;
    SerialLineSettings found;
    if (!device->GetSettings(found)) {
        device->Close();
        return false;
    }
    SerialLineSettings programming = found;
    programming.baudRate = baudRate;
    programming.dataBits = 8;
    programming.parity = SerialLineSettings::Parity::None;
    programming.stopBits = 1;
    programming.flow = SerialLineSettings::Flow::None;  // DTR and RTS are ours alone
    device_ = std::move(device);
    saved_ = found;
    dtr_.reset();
    rts_.reset();
    breakOn_.reset();
    if (!device_->ApplySettings(programming)) {
        Close();
        return false;
    }
    return true;
}

bool CProgrammingLink::Close()
{
    if (!IsOpen())
        return true;
    const bool restored = RestoreSettings();
    device_->Close();
    device_.reset();
    return restored;
}

bool CProgrammingLink::RestoreSettings() { return device_->ApplySettings(saved_); }

void CProgrammingLink::ResetPulse()
{
    SetRts(false);
    SetDtr(false);
    SleepMs(waits_.resetLowMs);
    SetDtr(true);
    SleepMs(waits_.resetSettleMs);
}

void CProgrammingLink::Release()
{
    SetDtr(false);
    SleepMs(waits_.releaseMs);
}

bool CProgrammingLink::Synchronise()
{
    for (int attempt = 0; attempt < kVdkSyncAttempts; ++attempt) {
        SendBits((kEnableFirst << 8) | kEnableSecond, 2 * kBitsPerByte);
        uint8_t echo = 0;
        if (!ReadBits(echo))
            return false;
        SetData(false);
        for (int i = 0; i < kBitsPerByte; ++i)
            ClockPulse();
        if (echo == kEnableSecond)
            return true;
        // One more clock moves the unit's idea of where a byte starts by one bit.
        ClockPulse();
    }
    return false;
}

void CProgrammingLink::SendCommand(uint32_t command) { SendBits(command, kCommandBits); }

bool CProgrammingLink::ReadByte(uint32_t address, uint8_t& value)
{
    const uint32_t opcode = (address & 1) ? 0x28 : 0x20;
    const uint32_t word = (address >> 1) & 0xFFFF;
    SendBits((opcode << 16) | word, kCommandBits - kBitsPerByte);
    return ReadBits(value);
}

void CProgrammingLink::SendBits(uint32_t bits, int count)
{
    for (int i = count - 1; i >= 0; --i) {
        SetData(((bits >> i) & 1) != 0);
        ClockPulse();
    }
}

// The unit puts each bit on DSR before the clock that follows it; the data line stays 0.
bool CProgrammingLink::ReadBits(uint8_t& value)
{
    uint8_t assembled = 0;
    for (int i = 0; i < kBitsPerByte; ++i) {
        bool dsr = false;
        bool cts = false;
        ++lineOperations_;
        if (!device_ || !device_->GetModemStatus(dsr, cts))
            return false;
        assembled = static_cast<uint8_t>((assembled << 1) | (dsr ? 1 : 0));
        SetData(false);
        ClockPulse();
    }
    value = static_cast<uint8_t>(~assembled);
    return true;
}

void CProgrammingLink::SetData(bool one)
{
    const bool breakOn = !one;
    if (breakOn_ == breakOn || !device_)
        return;
    ++lineOperations_;
    device_->SetBreak(breakOn);
    breakOn_ = breakOn;
}

void CProgrammingLink::ClockPulse()
{
    SetRts(true);
    SetRts(false);
}

void CProgrammingLink::SetDtr(bool on)
{
    if (dtr_ == on || !device_)
        return;
    ++lineOperations_;
    device_->SetDtr(on);
    dtr_ = on;
}

void CProgrammingLink::SetRts(bool on)
{
    if (rts_ == on || !device_)
        return;
    ++lineOperations_;
    device_->SetRts(on);
    rts_ = on;
}

}  // namespace kestrum
