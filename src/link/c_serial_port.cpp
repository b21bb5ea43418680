#include "link/c_serial_port.h"

#include <algorithm>
#include <climits>

#include "link/c_receive_worker.h"
#include "platform/message_pump.h"
#include "platform/port_diagnosis.h"
#include "platform/serial_device_factory.h"
#include "platform/tick_count.h"

namespace kestrum {

namespace {

constexpr uint32_t kOpenRate = 115200;

} // namespace

std::string OpenFailureText(const std::string& name, SerialOpenError error)
{
    switch (error) {
    case SerialOpenError::NotFound:
    case SerialOpenError::Cancelled:
        return "Open " + name + " port failed";
    case SerialOpenError::Permission:
        return "No permission to open port " + name +
               ": add your user to the dialout group, then log in again";
    default:
        return "Port " + name + " is busy";
    }
}

namespace {

uint32_t FlagsFromCounts(const SerialErrorCounts& now, const SerialErrorCounts& before)
{
    uint32_t flags = 0;
    if (now.framing != before.framing)
        flags |= CE_FRAME;
    if (now.parity != before.parity)
        flags |= CE_RXPARITY;
    if (now.overrun != before.overrun)
        flags |= CE_OVERRUN;
    if (now.bufferOverrun != before.bufferOverrun)
        flags |= CE_RXOVER;
    if (now.breaks != before.breaks)
        flags |= CE_BREAK;
    return flags;
}

int RemainingMs(int limitMs, const CStopwatch& clock)
{
    const uint32_t elapsed = clock.Elapsed();
    return elapsed >= static_cast<uint32_t>(limitMs) ? 0 : limitMs - static_cast<int>(elapsed);
}

void SetDataBits(SerialLineSettings& settings, int bits)
{
    settings.dataBits = bits;
}

void SetParityCode(SerialLineSettings& settings, int code)
{
    static constexpr SerialLineSettings::Parity kParities[] = {
        SerialLineSettings::Parity::None, SerialLineSettings::Parity::Odd, SerialLineSettings::Parity::Even};
    settings.parity = kParities[code];
}

void SetStopBitCount(SerialLineSettings& settings, int count)
{
    settings.stopBits = count;
}

} // namespace

CSerialPort::CSerialPort(const std::string& name, const SerialPortTiming& timing,
                         std::function<bool()> cancelOpen)
    : timing_(timing), cancelOpen_(std::move(cancelOpen))
{
    CLineErrorTable::SignalNewPort();
    if (OpenDevice(name))
        ApplyInitialState();
    if (device_)
        device_->SetCancelCheck({}); // later waits answer to a stop, not to this check
    if (openCancelled_ && device_)
        DropCancelledOpen(name);
}

CSerialPort::~CSerialPort()
{
    StopReceiveWorker(device_.get());
    if (device_)
        device_->Close();
    device_.reset();
}

bool CSerialPort::OpenDevice(const std::string& name)
{
    std::unique_ptr<ISerialDevice> device = CreateSerialDevice(name);
    if (cancelOpen_)
        device->SetCancelCheck([this] { return CancelOpenSeen(); });
    if (!device->Open(name)) {
        openFailureDetail_ = device->OpenErrorText();
        // Looked at now: the program holding the port may be gone by the time it is shown.
        openDiagnosis_ = DiagnoseOpenFailure(name, device->OpenError());
        ReportOpenFailure(name, device->OpenError());
        return false;
    }
    // After the open, which asked for low-latency mode: only a timer still slow gets a note.
    openNotes_ = DiagnoseOpenedPort(name, {}, device->LowLatency());
    device_ = std::move(device);
    portName_ = name;
    settings_.port = name;
    device_->ErrorCounts(seenCounts_);
    device_->DiscardInput();
    device_->DiscardOutput();
    return true;
}

// Remembers a yes, so a check that consumes what it looks at is asked only until then.
bool CSerialPort::CancelOpenSeen()
{
    if (!openCancelled_ && cancelOpen_ && cancelOpen_())
        openCancelled_ = true;
    return openCancelled_;
}

// A cancel during the initial settings leaves no half-set port behind: the open fails.
void CSerialPort::DropCancelledOpen(const std::string& name)
{
    device_->Close();
    device_.reset();
    openFailureDetail_ = "the open was cancelled";
    ReportOpenFailure(name, SerialOpenError::Cancelled);
}

void CSerialPort::PostOpenFailure(CStatusChannel& channel) const
{
    if (!openFailureDetail_.empty())
        channel.SetStatus(openFailureDetail_);
    channel.SetStatus(LastError());
    for (const std::string& line : openDiagnosis_)
        channel.SetStatus(line);
}

std::string CSerialPort::LostConnectionText() const
{
    return device_ ? kestrum::LostConnectionText(*device_, portName_) : "";
}

void CSerialPort::ReportOpenFailure(const std::string& name, SerialOpenError error)
{
    ReportError(OpenFailureText(name, error));
}

void CSerialPort::ClearDtrRaiseRts()
{
    for (int i = 0; i < 2; ++i) {
        dtrState_ = !device_->SetDtr(false) && dtrState_;
        rtsState_ = device_->SetRts(true);
    }
}

// 115200 baud, 8 data bits, no parity, one stop bit, no flow control; the backend keeps
// the line binary. Only a line that took these settings gets the final line levels.
void CSerialPort::ApplyInitialState()
{
    ClearDtrRaiseRts();
    SerialLineSettings line;
    device_->GetSettings(line);
    line.baudRate = kOpenRate;
    line.dataBits = 8;
    line.parity = SerialLineSettings::Parity::None;
    line.stopBits = 1;
    line.flow = SerialLineSettings::Flow::None;
    currentRate_ = kOpenRate;
    if (!device_->ApplySettings(line)) {
        ReportError("SetCommState() failed");
        return;
    }
    ClearDtrRaiseRts();
}

uint32_t CSerialPort::ReadErrorFlags()
{
    std::lock_guard lock(flagsMutex_);
    SerialErrorCounts now;
    if (!device_ || !device_->ErrorCounts(now))
        return 0;
    const uint32_t flags = FlagsFromCounts(now, seenCounts_);
    seenCounts_ = now;
    return flags;
}

int CSerialPort::WriteLimitMs(uint32_t count) const
{
    const int64_t limit =
        static_cast<int64_t>(timing_.writeTotalMultiplierMs) * count + timing_.writeTotalConstantMs;
    return static_cast<int>(std::min<int64_t>(limit, INT_MAX));
}

// Hands the bytes to the device until all are taken, the limit passes, the port is
// closing or the device goes.
uint32_t CSerialPort::SendWithin(const uint8_t* data, uint32_t count, int limitMs, const CStopwatch& clock)
{
    uint32_t sent = 0;
    while (sent < count) {
        const long taken = device_->Write(data + sent, count - sent);
        if (taken < 0)
            break;
        sent += static_cast<uint32_t>(taken);
        const int remaining = RemainingMs(limitMs, clock);
        if (sent == count || remaining == 0 || Aborted())
            break;
        if (taken == 0 && (device_->Wait(ISerialDevice::kWritable, std::min(remaining, timing_.waitSliceMs)) &
                           ISerialDevice::kGone))
            break;
    }
    return sent;
}

bool CSerialPort::WaitOutputDrained(int limitMs, const CStopwatch& clock)
{
    for (;;) {
        const int remaining = RemainingMs(limitMs, clock);
        if (device_->Drain(std::min(remaining, timing_.waitSliceMs)))
            return true;
        if (remaining == 0 || Aborted() || device_->OutputQueued() < 0)
            return false;
    }
}

// Returns once the bytes have left the port (its output queue is empty), so a caller's
// reply time-out starts after the last byte.
uint32_t CSerialPort::Write(const uint8_t* data, uint32_t count)
{
    if (!device_)
        return 0;
    TouchActivity();
    ReadErrorFlags();
    const CStopwatch clock;
    const int limitMs = WriteLimitMs(count);
    uint32_t sent = count ? SendWithin(data, count, limitMs, clock) : 0;
    if (!WaitOutputDrained(limitMs, clock))
        sent -= WithdrawUnsent(sent);
    if (sent != count) {
        uint32_t flags = ReadErrorFlags();
        flags |= device_->OutputQueued() < 0 ? CE_IOE : CE_TXFULL;
        const std::string lineErrors = DescribeLineErrors(flags);
        const std::string lost = LostConnectionText();
        ReportError(lost.empty() ? lineErrors : lost);
    }
    return sent;
}

// A write whose time ran out (output held by flow control, a stalled line) ends as the
// driver's write time-out ends it: what has not left is withdrawn, so it neither goes
// out later nor holds up the next write. Returns the bytes withdrawn, at most sent.
uint32_t CSerialPort::WithdrawUnsent(uint32_t sent)
{
    const long queued = device_->OutputQueued();
    if (queued <= 0)
        return 0;
    device_->DiscardOutput();
    return static_cast<uint32_t>(std::min<long>(queued, sent));
}

// A write that is not complete in time reports 0; the bytes already taken stay queued.
uint32_t CSerialPort::WriteTimed(const uint8_t* data, uint32_t count, int timeoutMs)
{
    if (!device_)
        return 0;
    TouchActivity();
    ReadErrorFlags();
    if (count == 0)
        return 0;
    const CStopwatch clock;
    const uint32_t sent = SendWithin(data, count, std::max(timeoutMs, 0), clock);
    return sent == count ? sent : 0;
}

uint32_t CSerialPort::ReadAvailable(uint8_t* buffer, uint32_t max)
{
    if (!device_)
        return 0;
    uint32_t total = 0;
    while (total < max) {
        const long queued = device_->InputQueued();
        const uint32_t wanted =
            queued > 0 ? std::min<uint32_t>(static_cast<uint32_t>(queued), max - total) : 0;
        if (wanted == 0)
            break;
        const long got = device_->Read(buffer + total, wanted);
        if (got <= 0)
            break;
        total += static_cast<uint32_t>(got);
    }
    return total;
}

void CSerialPort::PurgeInput()
{
    if (device_)
        device_->DiscardInput();
}

void CSerialPort::PurgeOutput()
{
    if (device_)
        device_->DiscardOutput();
}

void CSerialPort::PurgeAll()
{
    PurgeInput();
    PurgeOutput();
}

// The receive worker's wait. A line error (or the loss of the device, reported as an
// I/O error) is described, stored and posted here.
bool CSerialPort::WaitEvent(uint32_t& mask)
{
    mask = 0;
    if (!device_)
        return false;
    const int request = ISerialDevice::kReadable | ISerialDevice::kLineError | ISerialDevice::kReleased;
    const int got = device_->Wait(request, -1);
    const bool gone = (got & ISerialDevice::kGone) != 0;
    if (got & ISerialDevice::kReadable)
        mask |= EV_RXCHAR & eventMask_;
    if (got & (ISerialDevice::kLineError | ISerialDevice::kGone)) {
        mask |= EV_ERR & eventMask_;
        // The error is logged as an I/O error either way; the user is told why, where known.
        const std::string lineErrors = DescribeLineErrors(ReadErrorFlags() | (gone ? CE_IOE : 0));
        const std::string lost = gone ? LostConnectionText() : "";
        ReportError(lost.empty() ? lineErrors : lost);
        MessagePump::DispatchPending();
    }
    return !gone;
}

void CSerialPort::WaitReceiveStopped()
{
    CReceiveWorker* worker = Worker();
    if (!worker)
        return;
    do {
        SleepMs(timing_.stopPollMs);
        worker->RequestStop();
        if (device_)
            device_->Release();
    } while (!worker->Exited());
}

bool CSerialPort::SetBaudRate(uint32_t rate)
{
    if (!device_)
        return false;
    SerialLineSettings line;
    bool ok = device_->GetSettings(line);
    line.baudRate = rate;
    ok = ok && device_->ApplySettings(line);
    const std::string rateText = std::to_string(rate);
    if (!ok) {
        ReportError("Can't set Baud Rate " + rateText);
        // Said last, so that what stays shown is why, not what could not be done.
        if (const std::string lost = LostConnectionText(); !lost.empty())
            status_.SetStatus(lost);
        errorEvent_.Set();
        return false;
    }
    currentRate_ = rate;
    status_.SetStatus("Set port speed to " + rateText);
    SleepMs(timing_.rateSettleMs);
    return true;
}

int CSerialPort::SetHandshake(int mode)
{
    SerialLineSettings line;
    if (!device_ || !device_->GetSettings(line))
        return 0;
    if (mode == 0)
        line.flow = SerialLineSettings::Flow::None;
    if (mode == 1)
        line.flow = SerialLineSettings::Flow::RtsCts;
    if (mode == 2)
        line.flow = SerialLineSettings::Flow::XonXoff;
    if (mode == 1 || mode == 2)
        rtsState_ = true;
    const bool written = device_->ApplySettings(line);
    if (device_->SetRts(true))
        rtsState_ = true;
    return written ? 1 : 0;
}

int CSerialPort::GetHandshake()
{
    SerialLineSettings line;
    if (!device_ || !device_->GetSettings(line))
        return 0;
    if (line.flow == SerialLineSettings::Flow::XonXoff)
        return 2;
    return line.flow == SerialLineSettings::Flow::RtsCts ? 1 : 0;
}

bool CSerialPort::ChangeSettings(void (*change)(SerialLineSettings&, int), int value)
{
    SerialLineSettings line;
    if (!device_ || !device_->GetSettings(line))
        return false;
    change(line, value);
    return device_->ApplySettings(line);
}

bool CSerialPort::SetWordLength(int bits)
{
    return bits >= 5 && bits <= 8 && ChangeSettings(SetDataBits, bits);
}

bool CSerialPort::SetParity(int code)
{
    return code >= 0 && code <= 2 && ChangeSettings(SetParityCode, code);
}

bool CSerialPort::SetStopBits(int count)
{
    return (count == 1 || count == 2) && ChangeSettings(SetStopBitCount, count);
}

bool CSerialPort::ToggleLine(bool& state, bool (ISerialDevice::*setLine)(bool))
{
    if (!device_)
        return false;
    state = !state;
    (device_.get()->*setLine)(state);
    const bool ok = (device_.get()->*setLine)(state);
    if (!ok)
        state = !state;
    return ok;
}

bool CSerialPort::ToggleRts()
{
    return ToggleLine(rtsState_, &ISerialDevice::SetRts);
}

bool CSerialPort::ToggleDtr()
{
    return ToggleLine(dtrState_, &ISerialDevice::SetDtr);
}

bool CSerialPort::ReadSettings()
{
    SerialLineSettings line;
    if (!device_ || !device_->GetSettings(line))
        return false;
    bool dsr = false;
    bool cts = false;
    device_->GetModemStatus(dsr, cts); // a device without modem lines reads as both off
    settings_.speed = static_cast<int32_t>(currentRate_.load());
    settings_.parity = static_cast<int32_t>(line.parity);
    settings_.stopBits = line.stopBits == 2 ? 1 : 0;
    settings_.handshaking = GetHandshake();
    settings_.wordLength = line.dataBits >= 5 && line.dataBits <= 7 ? line.dataBits - 5 : 3;
    settings_.ctsLow = !cts;
    settings_.dsrLow = !dsr;
    settings_.rtsLow = !rtsState_;
    settings_.dtrLow = !dtrState_;
    return true;
}

bool CSerialPort::WaitQueue(int timeoutMs, bool output)
{
    if (timeoutMs == 0)
        return true;
    if (!device_)
        return false;
    const auto satisfied = [&](long queued) { return output ? queued == 0 : queued > 0; };
    if (timeoutMs < 0) {
        const long queued = output ? device_->OutputQueued() : device_->InputQueued();
        return queued == 0;
    }
    const CStopwatch clock;
    for (;;) {
        const long queued = output ? device_->OutputQueued() : device_->InputQueued();
        if (queued < 0)
            return false;
        if (satisfied(queued))
            return true;
        const int remaining = RemainingMs(timeoutMs, clock);
        if (remaining == 0)
            return false;
        SleepMs(std::min(remaining, timing_.queuePollMs));
    }
}

} // namespace kestrum
