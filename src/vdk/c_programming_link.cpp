#include "vdk/c_programming_link.h"

#include "link/c_serial_port.h"
#include "platform/port_diagnosis.h"
#include "platform/serial_device_factory.h"
#include "platform/tick_count.h"

namespace kestrum {

namespace {

constexpr uint8_t kEnableFirst = 0xAC;
constexpr uint8_t kEnableSecond = 0x53;
constexpr int kBitsPerByte = 8;
constexpr int kCommandBits = 32;
// A driver may refuse a line change a moment before it reports the device gone (an
// adapter being unplugged), so a failed line operation waits this long for that.
constexpr int kGoneCheckMs = 100;

// 8N1 at the rate and no handshaking, since DTR and RTS are ours alone; the rest as found.
SerialLineSettings ProgrammingSettings(SerialLineSettings settings, uint32_t baudRate)
{
    settings.baudRate = baudRate;
    settings.dataBits = 8;
    settings.parity = SerialLineSettings::Parity::None;
    settings.stopBits = 1;
    settings.flow = SerialLineSettings::Flow::None;
    return settings;
}

}  // namespace

CProgrammingLink::CProgrammingLink(DeviceFactory factory, VdkWaits waits)
    : factory_(std::move(factory)), waits_(waits)
{
    if (!factory_)
        factory_ = [](const std::string& name) { return CreateSerialDevice(name); };
}

CProgrammingLink::~CProgrammingLink() { Close(); }

bool CProgrammingLink::Open(const std::string& portName, uint32_t baudRate, std::function<bool()> cancelled)
{
    if (IsOpen() && !Close())
        return false;
    portName_ = portName;
    openFailureDetail_.clear();
    openDiagnosis_.clear();
    lastError_.clear();
    lineFailed_ = false;
    // Our devices never block and keep their own queues, so there are no driver queue
    // sizes or read time-outs to set; the link moves no data bytes anyway.
    std::unique_ptr<ISerialDevice> device = factory_(portName);
    if (!device)
        return FailOpen(device, OpenFailureText(portName, SerialOpenError::NotFound));
    device->SetCancelCheck(std::move(cancelled));
    const bool opened = device->Open(portName);
    device->SetCancelCheck({});
    if (!opened) {
        openFailureDetail_ = device->OpenErrorText();
        openDiagnosis_ = DiagnoseOpenFailure(portName, device->OpenError());
        return FailOpen(device, OpenFailureText(portName, device->OpenError()));
    }
    SerialLineSettings found;
    if (!device->GetSettings(found))
        return FailOpen(device, "Can't read the settings of port " + portName);
    if (!device->ApplySettings(ProgrammingSettings(found, baudRate))) {
        device->ApplySettings(found);
        return FailOpen(device, "Port " + portName + " does not take " + std::to_string(baudRate) +
                                    " baud, 8 data bits, no parity, 1 stop bit");
    }
    device_ = std::move(device);
    saved_ = found;
    dtr_.reset();
    rts_.reset();
    breakOn_.reset();
    return true;
}

bool CProgrammingLink::FailOpen(std::unique_ptr<ISerialDevice>& device, const std::string& text)
{
    if (device)
        device->Close();
    device.reset();
    lastError_ = text;
    return false;
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

bool CProgrammingLink::ResetPulse()
{
    if (!SetRts(false) || !SetDtr(false))
        return false;
    SleepMs(waits_.resetLowMs);
    if (!SetDtr(true))
        return false;
    SleepMs(waits_.resetSettleMs);
    return true;
}

bool CProgrammingLink::Release()
{
    if (!SetDtr(false))
        return false;
    SleepMs(waits_.releaseMs);
    return true;
}

bool CProgrammingLink::Synchronise()
{
    for (int attempt = 0; attempt < kVdkSyncAttempts; ++attempt) {
        uint8_t echo = 0;
        if (!SendBits((kEnableFirst << 8) | kEnableSecond, 2 * kBitsPerByte) || !ReadBits(echo) ||
            !SendBits(0, kBitsPerByte))
            return false;
        if (echo == kEnableSecond)
            return true;
        // One more clock moves the unit's idea of where a byte starts by one bit.
        if (!SendBits(0, 1))
            return false;
    }
    return false;
}

bool CProgrammingLink::SendCommand(uint32_t command)
{
    return SendBits(command, kCommandBits);
}

bool CProgrammingLink::ReadByte(uint32_t address, uint8_t& value)
{
    const uint32_t opcode = (address & 1) ? 0x28 : 0x20;
    const uint32_t word = (address >> 1) & 0xFFFF;
    return SendBits((opcode << 16) | word, kCommandBits - kBitsPerByte) && ReadBits(value);
}

bool CProgrammingLink::SendBits(uint32_t bits, int count)
{
    for (int i = count - 1; i >= 0; --i)
        if (!SetData(((bits >> i) & 1) != 0) || !ClockPulse())
            return false;
    return true;
}

// The unit puts each bit on DSR before the clock that follows it; the data line stays 0.
bool CProgrammingLink::ReadBits(uint8_t& value)
{
    uint8_t assembled = 0;
    for (int i = 0; i < kBitsPerByte; ++i) {
        bool dsr = false;
        bool cts = false;
        if (!LineUsable() || !LineDone(device_->GetModemStatus(dsr, cts)))
            return false;
        assembled = static_cast<uint8_t>((assembled << 1) | (dsr ? 1 : 0));
        if (!SendBits(0, 1))
            return false;
    }
    value = static_cast<uint8_t>(~assembled);
    return true;
}

bool CProgrammingLink::SetData(bool one)
{
    return SetLine(breakOn_, !one, &ISerialDevice::SetBreak);
}

bool CProgrammingLink::ClockPulse()
{
    return SetRts(true) && SetRts(false);
}

bool CProgrammingLink::SetDtr(bool on)
{
    return SetLine(dtr_, on, &ISerialDevice::SetDtr);
}

bool CProgrammingLink::SetRts(bool on)
{
    return SetLine(rts_, on, &ISerialDevice::SetRts);
}

bool CProgrammingLink::SetLine(std::optional<bool>& state, bool on, bool (ISerialDevice::*setLine)(bool))
{
    if (!LineUsable())
        return false;
    if (state == on)
        return true;
    if (!LineDone((device_.get()->*setLine)(on)))
        return false;
    state = on;
    return true;
}

bool CProgrammingLink::LineUsable() const
{
    return device_ && !lineFailed_;
}

// Counts a call into the driver. The first one that fails ends the link's use of the
// device, and says whether the port has gone or only refused the line.
bool CProgrammingLink::LineDone(bool succeeded)
{
    ++lineOperations_;
    if (succeeded)
        return true;
    lineFailed_ = true;
    const bool gone = (device_->Wait(0, kGoneCheckMs) & ISerialDevice::kGone) != 0;
    lastError_ =
        gone ? "Lost connection with port " + portName_ : "Can't use the control lines of port " + portName_;
    return false;
}

}  // namespace kestrum
