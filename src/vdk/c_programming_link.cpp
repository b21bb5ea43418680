#include "vdk/c_programming_link.h"

#include <algorithm>

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
using Step = SerialLineBatch::Step;

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

// What every open starts from: nothing failed, nothing queued, no line state known.
void CProgrammingLink::StartUse(const std::string& portName)
{
    portName_ = portName;
    openFailureDetail_.clear();
    openDiagnosis_.clear();
    lastError_.clear();
    lineFailed_ = false;
    stopped_ = false;
    queued_.Clear();
    dtr_.reset();
    rts_.reset();
    breakOn_.reset();
}

bool CProgrammingLink::Open(const std::string& portName, uint32_t baudRate, std::function<bool()> cancelled)
{
    if (IsOpen() && !Close())
        return false;
    StartUse(portName);
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
        if (std::string lost = LostConnectionText(*device, portName); !lost.empty())
            return FailOpen(device, lost);
        device->ApplySettings(found);
        return FailOpen(device, "Port " + portName + " does not take " + std::to_string(baudRate) +
                                    " baud, 8 data bits, no parity, 1 stop bit");
    }
    device_ = std::move(device);
    saved_ = found;
    return true;
}

bool CProgrammingLink::OpenBitBang(const std::string& portName, std::unique_ptr<IBitBangPort> port,
                                   const UsbDeviceLocation& device, uint32_t statesPerSecond)
{
    if (IsOpen() && !Close())
        return false;
    StartUse(portName);
    auto pins = std::make_unique<CBitBangLines>(std::move(port));
    if (!pins->Open(device, statesPerSecond)) {
        lastError_ = pins->LastError();
        pinStates_ += pins->StatesWritten();
        return false;
    }
    pins_ = std::move(pins);
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
    queued_.Clear();
    if (pins_) {
        pins_->Close();
        pinStates_ += pins_->StatesWritten();
        pins_.reset();
        return true;
    }
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
    SetLine(rts_, false, Step::RtsOff, Step::RtsOn);
    SetLine(dtr_, false, Step::DtrOff, Step::DtrOn);
    if (!Pause(waits_.resetLowMs))
        return false;
    SetLine(dtr_, true, Step::DtrOff, Step::DtrOn);
    return Pause(waits_.resetSettleMs);
}

bool CProgrammingLink::Release()
{
    SetLine(dtr_, false, Step::DtrOff, Step::DtrOn);
    return Pause(waits_.releaseMs);
}

// Each attempt is one batch: whether the next one needs the extra clock depends on the
// echo it reads.
bool CProgrammingLink::Synchronise()
{
    for (int attempt = 0; attempt < kVdkSyncAttempts; ++attempt) {
        answers_.clear();
        QueueBits((kEnableFirst << 8) | kEnableSecond, 2 * kBitsPerByte);
        QueueReadBits();
        QueueBits(0, kBitsPerByte);
        if (!RunBatch())
            return false;
        if (AssembleByte(0) == kEnableSecond)
            return true;
        // One more clock moves the unit's idea of where a byte starts by one bit.
        QueueBits(0, 1);
    }
    RunBatch();
    return false;
}

bool CProgrammingLink::SendCommand(uint32_t command)
{
    QueueBits(command, kCommandBits);
    return LineUsable();
}

bool CProgrammingLink::Pause(int ms)
{
    if (!RunBatch())
        return false;
    SleepMs(ms);
    return true;
}

bool CProgrammingLink::ReadByte(uint32_t address, uint8_t& value)
{
    return ReadBytes(address, std::span<uint8_t>(&value, 1)) == 1;
}

// The read-back of a byte does not depend on the bits read before, so a whole stretch of
// reads goes to the device at once and the bytes are put together from the answers.
size_t CProgrammingLink::ReadBytes(uint32_t address, std::span<uint8_t> values)
{
    answers_.clear();
    for (size_t i = 0; i < values.size(); ++i) {
        const uint32_t at = address + static_cast<uint32_t>(i);
        const uint32_t opcode = (at & 1) ? 0x28 : 0x20;
        const uint32_t word = (at >> 1) & 0xFFFF;
        QueueBits((opcode << 16) | word, kCommandBits - kBitsPerByte);
        QueueReadBits();
    }
    RunBatch();
    const size_t read = std::min(values.size(), answers_.size() / kBitsPerByte);
    for (size_t i = 0; i < read; ++i)
        values[i] = AssembleByte(i * kBitsPerByte);
    return read;
}

void CProgrammingLink::QueueBits(uint32_t bits, int count)
{
    for (int i = count - 1; i >= 0; --i) {
        SetData(((bits >> i) & 1) != 0);
        ClockPulse();
    }
}

// The unit puts each bit on DSR before the clock that follows it; the data line stays 0.
void CProgrammingLink::QueueReadBits()
{
    for (int i = 0; i < kBitsPerByte; ++i) {
        queued_.ReadModem();
        QueueBits(0, 1);
    }
}

uint8_t CProgrammingLink::AssembleByte(size_t firstRead) const
{
    uint8_t assembled = 0;
    for (size_t i = firstRead; i < firstRead + kBitsPerByte; ++i)
        assembled = static_cast<uint8_t>((assembled << 1) | (answers_[i].dsr ? 1 : 0));
    return static_cast<uint8_t>(~assembled);
}

void CProgrammingLink::SetData(bool one)
{
    SetLine(breakOn_, !one, Step::BreakOff, Step::BreakOn);
}

void CProgrammingLink::ClockPulse()
{
    SetLine(rts_, true, Step::RtsOff, Step::RtsOn);
    SetLine(rts_, false, Step::RtsOff, Step::RtsOn);
}

// A long run of changes without a read still goes out in batches of bounded size. Its
// reads' answers join those of the batches before.
void CProgrammingLink::SetLine(std::optional<bool>& state, bool on, Step off, Step onStep)
{
    if (state == on)
        return;
    queued_.Add(on ? onStep : off);
    state = on;
    if (queued_.Size() >= kMaxBatchSteps)
        RunBatch();
}

// Carries out what is queued; false when it, or an earlier batch, failed or was stopped.
bool CProgrammingLink::RunBatch()
{
    if (!LineUsable()) {
        queued_.Clear();
        return false;
    }
    if (queued_.Empty())
        return true;
    lineOperations_ += queued_.Size();
    const LineBatchResult result =
        pins_ ? pins_->Run(queued_, stopCheck_) : device_->RunLineBatch(queued_, stopCheck_);
    queued_.Clear();
    answers_.insert(answers_.end(), result.reads.begin(), result.reads.end());
    NoteBatchEnd(result);
    return LineUsable();
}

bool CProgrammingLink::LineUsable() const
{
    return IsOpen() && !lineFailed_ && !stopped_;
}

// The first batch that fails ends the link's use of the device, and says whether the
// port has gone or only refused the line.
void CProgrammingLink::NoteBatchEnd(const LineBatchResult& result)
{
    using End = LineBatchResult::End;
    if (result.end == End::Stopped) {
        stopped_ = true;
    } else if (result.end != End::Completed) {
        lineFailed_ = true;
        const std::string lost = device_ ? LostConnectionText(*device_, portName_) : "";
        lastError_ = result.end != End::Gone ? "Can't use the control lines of port " + portName_
                     : lost.empty()          ? "Lost connection with port " + portName_
                                             : lost;
    }
}

}  // namespace kestrum
