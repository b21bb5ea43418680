#include "sim/rfc2217_session.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace kestrum {

using namespace rfc2217;

namespace {

// How often the device is looked at for bytes and for line changes of its own, and how
// often the reading side looks at the stop flag.
constexpr int kPumpSliceMs = 5;
constexpr int kReadSliceMs = 50;
constexpr size_t kChunk = 16 * 1024;

uint8_t ModemBits(bool dsr, bool cts)
{
    return static_cast<uint8_t>((dsr ? kModemDsr : 0) | (cts ? kModemCts : 0));
}

}  // namespace

Rfc2217Session::Rfc2217Session(int socket, std::shared_ptr<DeviceModel> model, bool paced,
                               Rfc2217ServerCounters& counters, std::chrono::microseconds delay,
                               bool silentAfterOpen)
    : socket_(socket), counters_(counters), device_(std::move(model), SimSerialDevice::Options{paced}),
      silentAfterOpen_(silentAfterOpen)
{
    if (delay.count() <= 0)
        return;
    inbound_ = std::make_unique<DelayLine>(
        delay, [this](const std::vector<uint8_t>& bytes) { HearFromClient(bytes.data(), bytes.size()); });
    outbound_ = std::make_unique<DelayLine>(delay, [this](const std::vector<uint8_t>& bytes) {
        if (!SendNow(bytes.data(), bytes.size()))
            Drop();
    });
}

Rfc2217Session::~Rfc2217Session()
{
    device_.Close();
}

void Rfc2217Session::Drop()
{
    ending_ = true;
    ::shutdown(socket_, SHUT_RDWR);
}

void Rfc2217Session::Run(const std::atomic<bool>& stop)
{
    // The model serves one client at a time: a second one is hung up on at once.
    if (!device_.Open("rfc2217 client"))
        return;
    ++counters_.clients;
    {
        std::lock_guard lock(outMutex_);
        for (uint8_t option : {kOptionBinary, kOptionSuppressGoAhead})
            Rfc2217TelnetCodec::AppendOption(out_, kWill, option);
        Rfc2217TelnetCodec::AppendOption(out_, kDo, kOptionBinary);
        FlushLocked();
    }
    std::thread pump([this] { Pump(); });
    uint8_t buffer[kChunk];
    while (!stop && !ending_) {
        pollfd fd{socket_, POLLIN, 0};
        if (::poll(&fd, 1, kReadSliceMs) <= 0)
            continue;
        const ssize_t got = ::recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            break;
        if (inbound_)
            inbound_->Push(buffer, static_cast<size_t>(got));
        else
            HearFromClient(buffer, static_cast<size_t>(got));
    }
    ending_ = true;
    if (inbound_)
        inbound_->Stop();
    device_.Release();
    pump.join();
    if (outbound_)
        outbound_->Stop();
    device_.Close();
}

void Rfc2217Session::HearFromClient(const uint8_t* data, size_t count)
{
    if (silent_)
        return;
    codec_.Feed(data, count, *this);
    Flush();
    if (silentAfterOpen_ && openAnswered_)
        silent_ = true;
}

// ---- device to client ---------------------------------------------------------------

void Rfc2217Session::Pump()
{
    while (!ending_) {
        const int got = device_.Wait(ISerialDevice::kReadable | ISerialDevice::kLineError | ISerialDevice::kReleased,
                                     kPumpSliceMs);
        if (got & ISerialDevice::kGone) {
            // The device has gone: hang up, as a device server does when its port fails.
            Flush();
            Drop();
            return;
        }
        PumpDeviceBytes();
        std::lock_guard lock(outMutex_);
        ReportLineErrorsLocked();
        ReportModemLocked(false);
        FlushLocked();
    }
}

void Rfc2217Session::PumpDeviceBytes()
{
    uint8_t bytes[kChunk];
    for (;;) {
        const long got = device_.Read(bytes, sizeof bytes);
        if (got <= 0)
            return;
        std::lock_guard lock(outMutex_);
        Rfc2217TelnetCodec::AppendData(out_, bytes, static_cast<size_t>(got));
    }
}

void Rfc2217Session::ReportLineErrorsLocked()
{
    SerialErrorCounts now;
    if (!device_.ErrorCounts(now))
        return;
    uint8_t bits = 0;
    bits |= now.framing != countsReported_.framing ? kLineFraming : 0;
    bits |= now.parity != countsReported_.parity ? kLineParity : 0;
    bits |= now.overrun != countsReported_.overrun || now.bufferOverrun != countsReported_.bufferOverrun
                ? kLineOverrun
                : 0;
    bits |= now.breaks != countsReported_.breaks ? kLineBreak : 0;
    countsReported_ = now;
    if (bits & lineMask_)
        Rfc2217TelnetCodec::AppendComPort(out_, kNotifyLineState + kReplyOffset, bits & lineMask_);
}

// Reads the lines under the stream's lock, so reports go out in the order the states
// were seen, whichever thread looks.
void Rfc2217Session::ReportModemLocked(bool always)
{
    bool dsr = false;
    bool cts = false;
    if (!device_.GetModemStatus(dsr, cts))
        return;
    const uint8_t now = ModemBits(dsr, cts);
    const uint8_t changed = now ^ modemReported_;
    modemReported_ = now;
    if ((changed & modemMask_) == 0 && !always)
        return;
    const uint8_t deltas = static_cast<uint8_t>(((changed & kModemDsr) ? kModemDeltaDsr : 0) |
                                                ((changed & kModemCts) ? kModemDeltaCts : 0));
    Rfc2217TelnetCodec::AppendComPort(out_, kNotifyModemState + kReplyOffset, (now | deltas) & modemMask_);
}

void Rfc2217Session::Append(const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(outMutex_);
    out_.insert(out_.end(), bytes.begin(), bytes.end());
}

void Rfc2217Session::Reply(uint8_t command, uint8_t value)
{
    std::lock_guard lock(outMutex_);
    Rfc2217TelnetCodec::AppendComPort(out_, command + kReplyOffset, value);
}

// Blocking send; the socket's send time-out (set by the server) bounds a client that
// stops reading. False when the connection failed.
bool Rfc2217Session::SendNow(const uint8_t* data, size_t count)
{
    size_t sent = 0;
    while (sent < count && !sendFailed_) {
        const ssize_t n = ::send(socket_, data + sent, count - sent, MSG_NOSIGNAL);
        if (n > 0)
            sent += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            sendFailed_ = true;
    }
    return !sendFailed_;
}

// A failed send ends the session.
void Rfc2217Session::FlushLocked()
{
    if (silent_) {
        out_.clear();
        return;
    }
    if (outbound_)
        outbound_->Push(out_.data(), out_.size());
    else if (!SendNow(out_.data(), out_.size()))
        Drop();
    out_.clear();
}

void Rfc2217Session::Flush()
{
    std::lock_guard lock(outMutex_);
    FlushLocked();
}

// ---- client to device ---------------------------------------------------------------

void Rfc2217Session::HearData(const uint8_t* data, size_t count)
{
    size_t taken = 0;
    while (taken < count && !ending_) {
        const long n = device_.Write(data + taken, count - taken);
        if (n < 0)
            return;
        taken += static_cast<size_t>(n);
        if (n == 0)
            device_.Wait(ISerialDevice::kWritable, kReadSliceMs);
    }
}

void Rfc2217Session::OnData(const uint8_t* data, size_t count)
{
    HearData(data, count);
}

// Agrees to binary, no go-aheads and COM-port control; declines everything else. Our
// own offers were made once at the start, so a positive answer is never answered again.
void Rfc2217Session::OnOption(uint8_t verb, uint8_t option)
{
    const bool supported = option == kOptionBinary || option == kOptionSuppressGoAhead ||
                           (option == kOptionComPort && (verb == kWill || verb == kWont));
    std::vector<uint8_t> answer;
    if (verb == kWill && option == kOptionComPort)
        Rfc2217TelnetCodec::AppendOption(answer, kDo, option);
    else if (verb == kWill && option == kOptionSuppressGoAhead)
        Rfc2217TelnetCodec::AppendOption(answer, kDo, option);
    else if (verb == kDo && option == kOptionSuppressGoAhead)
        ;  // offered at the start
    else if (!supported && verb == kWill)
        Rfc2217TelnetCodec::AppendOption(answer, kDont, option);
    else if (!supported && verb == kDo)
        Rfc2217TelnetCodec::AppendOption(answer, kWont, option);
    Append(answer);
}

void Rfc2217Session::OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload)
{
    if (option == kOptionComPort && !payload.empty())
        OnComPort(payload[0], std::span<const uint8_t>(payload).subspan(1));
}

void Rfc2217Session::OnComPort(uint8_t command, std::span<const uint8_t> value)
{
    if (command == kSetBaudRate) {
        OnSetBaudRate(value);
        return;
    }
    if (value.empty())
        return;
    switch (command) {
    case kSetDataSize:
    case kSetParity:
    case kSetStopSize:
        OnLineSetting(command, value[0]);
        break;
    case kSetControl:
        OnSetControl(value[0]);
        break;
    case kSetLineStateMask: {
        std::lock_guard lock(outMutex_);
        lineMask_ = value[0];
        Rfc2217TelnetCodec::AppendComPort(out_, command + kReplyOffset, value[0]);
        break;
    }
    case kSetModemStateMask: {
        // The client learns the present state along with the answer.
        std::lock_guard lock(outMutex_);
        modemMask_ = value[0];
        Rfc2217TelnetCodec::AppendComPort(out_, command + kReplyOffset, value[0]);
        ReportModemLocked(true);
        break;
    }
    case kPurgeData:
        OnPurge(value[0]);
        break;
    default:
        break;  // flow-control suspend/resume and commands we do not know: no answer
    }
}

// Rate 0 is a question; its answer is the round trip a client makes before trusting DSR.
void Rfc2217Session::OnSetBaudRate(std::span<const uint8_t> value)
{
    SerialLineSettings line;
    device_.GetSettings(line);
    const uint32_t rate = value.size() >= 4 ? (uint32_t(value[0]) << 24) | (uint32_t(value[1]) << 16) |
                                                  (uint32_t(value[2]) << 8) | value[3]
                                            : 0;
    if (rate == 0) {
        ++counters_.roundTrips;
    } else {
        line.baudRate = rate;
        device_.ApplySettings(line);
        device_.GetSettings(line);
    }
    std::lock_guard lock(outMutex_);
    ReportModemLocked(false);
    Rfc2217TelnetCodec::AppendComPort32(out_, kSetBaudRate + kReplyOffset, line.baudRate);
    openAnswered_ = true;  // a client's open ends with its first rate question
}

// Data size, parity and stop size: 0 asks; a value the device cannot take is answered
// with the one it keeps.
void Rfc2217Session::OnLineSetting(uint8_t command, uint8_t value)
{
    SerialLineSettings line;
    device_.GetSettings(line);
    SerialLineSettings wanted = line;
    if (command == kSetDataSize && value >= 5 && value <= 8)
        wanted.dataBits = value;
    if (command == kSetParity && value >= kParityNone && value <= kParityEven)
        wanted.parity = value == kParityOdd    ? SerialLineSettings::Parity::Odd
                        : value == kParityEven ? SerialLineSettings::Parity::Even
                                               : SerialLineSettings::Parity::None;
    if (command == kSetStopSize && (value == 1 || value == 2))
        wanted.stopBits = value;
    if (device_.ApplySettings(wanted))
        line = wanted;
    const uint8_t parity = line.parity == SerialLineSettings::Parity::Odd    ? kParityOdd
                           : line.parity == SerialLineSettings::Parity::Even ? kParityEven
                                                                             : kParityNone;
    const uint8_t answer = command == kSetDataSize ? static_cast<uint8_t>(line.dataBits)
                           : command == kSetParity ? parity
                                                   : static_cast<uint8_t>(line.stopBits);
    Reply(command, answer);
}

// The report of what the change did to DSR and CTS goes out before the answer.
void Rfc2217Session::ApplyLine(bool& line, bool on, bool (ISerialDevice::*set)(bool), uint8_t answer)
{
    line = on;
    (device_.*set)(on);
    ++counters_.lineChanges;
    std::lock_guard lock(outMutex_);
    ReportModemLocked(false);
    Rfc2217TelnetCodec::AppendComPort(out_, kSetControl + kReplyOffset, answer);
}

void Rfc2217Session::OnSetControl(uint8_t value)
{
    switch (value) {
    case kControlBreakOn:
    case kControlBreakOff:
        ApplyLine(break_, value == kControlBreakOn, &ISerialDevice::SetBreak, value);
        return;
    case kControlDtrOn:
    case kControlDtrOff:
        ApplyLine(dtr_, value == kControlDtrOn, &ISerialDevice::SetDtr, value);
        return;
    case kControlRtsOn:
    case kControlRtsOff:
        ApplyLine(rts_, value == kControlRtsOn, &ISerialDevice::SetRts, value);
        return;
    default:
        break;
    }
    SerialLineSettings line;
    device_.GetSettings(line);
    uint8_t answer = value;
    switch (value) {
    case kControlAskFlow:
        answer = line.flow == SerialLineSettings::Flow::RtsCts    ? kControlFlowRtsCts
                 : line.flow == SerialLineSettings::Flow::XonXoff ? kControlFlowXonXoff
                                                                  : kControlFlowNone;
        break;
    case kControlFlowNone:
    case kControlFlowXonXoff:
    case kControlFlowRtsCts:
        line.flow = value == kControlFlowRtsCts    ? SerialLineSettings::Flow::RtsCts
                    : value == kControlFlowXonXoff ? SerialLineSettings::Flow::XonXoff
                                                   : SerialLineSettings::Flow::None;
        device_.ApplySettings(line);
        break;
    case kControlAskBreak:
        answer = break_ ? kControlBreakOn : kControlBreakOff;
        break;
    case kControlAskDtr:
        answer = dtr_ ? kControlDtrOn : kControlDtrOff;
        break;
    case kControlAskRts:
        answer = rts_ ? kControlRtsOn : kControlRtsOff;
        break;
    default:
        break;  // inbound flow control: nothing to do on a simulated line
    }
    Reply(kSetControl, answer);
}

void Rfc2217Session::OnPurge(uint8_t value)
{
    if (value == kPurgeReceive || value == kPurgeBoth)
        device_.DiscardOutput();
    if (value == kPurgeTransmit || value == kPurgeBoth)
        device_.DiscardInput();
    Reply(kPurgeData, value);
}

}  // namespace kestrum
