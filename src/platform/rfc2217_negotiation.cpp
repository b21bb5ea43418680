// The open's Telnet negotiation: COM-port control taken up, and the line as the server has it.
#include "platform/rfc2217_serial_device.h"

#include <algorithm>
#include <chrono>

#include "platform/rfc2217_serial_device_internals.h"

namespace kestrum {

using namespace rfc2217;

namespace {

constexpr uint8_t kModemMask = kModemDsr | kModemCts | kModemDeltaDsr | kModemDeltaCts;
constexpr uint8_t kLineMask = kLineBreak | kLineFraming | kLineParity | kLineOverrun;

std::vector<uint8_t> Option(uint8_t verb, uint8_t option)
{
    std::vector<uint8_t> bytes;
    Rfc2217TelnetCodec::AppendOption(bytes, verb, option);
    return bytes;
}

} // namespace

std::chrono::steady_clock::time_point Rfc2217SerialDevice::NegotiationDue() const
{
    return connectedAt_ + std::chrono::milliseconds(timing_.negotiationMs);
}

// What a server that did not complete the negotiation in time did, in the real time
// since the connection: whether it said nothing or talked without giving the answer.
std::string Rfc2217SerialDevice::UnfinishedNegotiationTextLocked(const std::string& missing,
                                                                 uint64_t bytesBefore) const
{
    const uint64_t sent = bytesReceived_ - bytesBefore;
    const std::string what =
        sent == 0 ? "it sent nothing" : "it sent " + std::to_string(sent) + " bytes, none of them the answer";
    return "the server at " + peer_ + " " + missing + " within " + SecondsSince(connectedAt_) + ": " + what;
}

// We offer COM-port control and binary data both ways and no go-aheads; only COM-port
// control is required. Servers that start their own offers get answers in OnOption.
bool Rfc2217SerialDevice::Negotiate()
{
    std::unique_lock lock(mutex_);
    for (OptionState* option : {&localComPort_, &localBinary_, &localSga_, &remoteBinary_, &remoteSga_})
        option->requested = true;
    std::vector<uint8_t> offer;
    for (uint8_t local : {kOptionComPort, kOptionBinary, kOptionSuppressGoAhead})
        Rfc2217TelnetCodec::AppendOption(offer, kWill, local);
    for (uint8_t remote : {kOptionBinary, kOptionSuppressGoAhead})
        Rfc2217TelnetCodec::AppendOption(offer, kDo, remote);
    EnqueueLocked(false, offer);
    const uint64_t bytesBefore = bytesReceived_;
    auto settled = [this] { return gone_ || localComPort_.enabled || comPortRefused_; };
    while (!settled() && std::chrono::steady_clock::now() < NegotiationDue() && !CancelSeenLocked(lock))
        changed_.wait_until(lock,
                            std::min(NegotiationDue(), std::chrono::steady_clock::now() +
                                                           std::chrono::milliseconds(kCancelLookMs)),
                            settled);
    if (gone_)
        return FailOpenLocked(lock, SerialOpenError::Busy,
                              "the server at " + peer_ +
                                  " closed the connection at once (port in use by another client?)");
    if (comPortRefused_)
        return FailOpenLocked(lock, SerialOpenError::NotFound,
                              "the server at " + peer_ + " does not offer COM-port control (RFC 2217)");
    if (cancelSeen_)
        return FailOpenLocked(lock, SerialOpenError::Cancelled, CancelledText());
    if (!localComPort_.enabled)
        return FailOpenLocked(
            lock, SerialOpenError::NotFound,
            UnfinishedNegotiationTextLocked("did not take up COM-port control (RFC 2217)", bytesBefore));
    return true;
}

// The line as the server has it, so GetSettings before any change tells the truth; the
// notifications we want; and nothing left over in the server from an earlier client.
bool Rfc2217SerialDevice::ReadServerSettings()
{
    std::unique_lock lock(mutex_);
    EnqueueLocked(false, ComPort(kSetModemStateMask, kModemMask));
    EnqueueLocked(false, ComPort(kSetLineStateMask, kLineMask));
    EnqueueLocked(false, ComPort(kPurgeData, kPurgeBoth));
    EnqueueLocked(false, ComPort(kSetControl, kControlAskFlow));
    EnqueueLocked(false, ComPort(kSetDataSize, 0));
    EnqueueLocked(false, ComPort(kSetParity, 0));
    EnqueueLocked(false, ComPort(kSetStopSize, 0));
    replyDataSize_.reset();
    replyParity_.reset();
    replyStopSize_.reset();
    replyFlow_.reset();
    const uint64_t bytesBefore = bytesReceived_;
    if (!ReadUntilAnswered(lock, QueueQuestionLocked(0), [this] { return NegotiationDue(); })) {
        if (cancelSeen_)
            return FailOpenLocked(lock, SerialOpenError::Cancelled, CancelledText());
        const std::string text =
            gone_ ? failText_
                  : UnfinishedNegotiationTextLocked(
                        "took up COM-port control but did not report its line settings", bytesBefore);
        return FailOpenLocked(lock, SerialOpenError::NotFound, text);
    }
    ++roundTrips_;
    if (replyRate_ > 0)
        settings_.baudRate = replyRate_;
    if (replyDataSize_ && *replyDataSize_ >= 5 && *replyDataSize_ <= 8)
        settings_.dataBits = *replyDataSize_;
    if (replyParity_ == kParityOdd)
        settings_.parity = SerialLineSettings::Parity::Odd;
    if (replyParity_ == kParityEven)
        settings_.parity = SerialLineSettings::Parity::Even;
    if (replyStopSize_ == 2)
        settings_.stopBits = 2;
    if (replyFlow_ == kControlFlowRtsCts)
        settings_.flow = SerialLineSettings::Flow::RtsCts;
    if (replyFlow_ == kControlFlowXonXoff)
        settings_.flow = SerialLineSettings::Flow::XonXoff;
    return true;
}

Rfc2217SerialDevice::OptionState* Rfc2217SerialDevice::LocalOption(uint8_t option)
{
    switch (option) {
    case kOptionBinary:
        return &localBinary_;
    case kOptionSuppressGoAhead:
        return &localSga_;
    case kOptionComPort:
        return &localComPort_;
    default:
        return nullptr;
    }
}

Rfc2217SerialDevice::OptionState* Rfc2217SerialDevice::RemoteOption(uint8_t option)
{
    switch (option) {
    case kOptionBinary:
        return &remoteBinary_;
    case kOptionSuppressGoAhead:
        return &remoteSga_;
    default:
        return nullptr;
    }
}

// Agrees to what we support and declines the rest; an answer to our own request is not
// answered again, so the two sides never loop.
void Rfc2217SerialDevice::OnOption(uint8_t verb, uint8_t option)
{
    const bool local = verb == kDo || verb == kDont;
    OptionState* state = local ? LocalOption(option) : RemoteOption(option);
    const bool positive = verb == kDo || verb == kWill;
    const uint8_t yes = local ? kWill : kDo;
    const uint8_t no = local ? kWont : kDont;
    std::vector<uint8_t> answer;
    if (!state) {
        if (positive)
            answer = Option(no, option);
    } else if (positive) {
        if (!state->enabled && !state->requested)
            answer = Option(yes, option);
        state->enabled = true;
        state->requested = false;
    } else {
        if (state->enabled)
            answer = Option(no, option);
        if (option == kOptionComPort && local)
            comPortRefused_ = true;
        state->enabled = false;
        state->requested = false;
    }
    if (!answer.empty())
        EnqueueLocked(false, answer);
}

} // namespace kestrum
