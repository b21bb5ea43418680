// Line settings, control-line changes (DTR, RTS, break), modem reads and line-error counts.
#include "platform/rfc2217_serial_device.h"

#include <algorithm>
#include <chrono>

#include "platform/rfc2217_serial_device_internals.h"

namespace kestrum {

using namespace rfc2217;

namespace {

// Line changes between two checkpoint questions; see WaitForControlWindow.
constexpr uint64_t kCheckpointEvery = 512;

// Deviation (per mille) of a rate the server reports from the one asked for that still
// counts as taken; a UART's divider rarely makes a rate exactly.
constexpr uint32_t kRateTolerancePerMille = 30;

bool RateClose(uint32_t wanted, uint32_t actual)
{
    const uint64_t difference = wanted > actual ? wanted - actual : actual - wanted;
    return difference * 1000 <= static_cast<uint64_t>(wanted) * kRateTolerancePerMille;
}

uint8_t ParityCode(SerialLineSettings::Parity parity)
{
    switch (parity) {
    case SerialLineSettings::Parity::Odd:
        return kParityOdd;
    case SerialLineSettings::Parity::Even:
        return kParityEven;
    default:
        return kParityNone;
    }
}

uint8_t FlowCode(SerialLineSettings::Flow flow)
{
    switch (flow) {
    case SerialLineSettings::Flow::RtsCts:
        return kControlFlowRtsCts;
    case SerialLineSettings::Flow::XonXoff:
        return kControlFlowXonXoff;
    default:
        return kControlFlowNone;
    }
}

} // namespace

bool Rfc2217SerialDevice::GetSettings(SerialLineSettings& settings)
{
    std::lock_guard lock(mutex_);
    if (!socket_.IsOpen())
        return false;
    settings = settings_;
    return true;
}

// The rate goes last: its answer shows that the server has dealt with the rest.
bool Rfc2217SerialDevice::ApplySettings(const SerialLineSettings& settings)
{
    if (settings.baudRate == 0 || settings.dataBits < 5 || settings.dataBits > 8 ||
        (settings.stopBits != 1 && settings.stopBits != 2))
        return false;
    std::unique_lock lock(mutex_);
    if (gone_)
        return false;
    replyDataSize_.reset();
    replyParity_.reset();
    replyStopSize_.reset();
    EnqueueLocked(false, ComPort(kSetDataSize, static_cast<uint8_t>(settings.dataBits)));
    EnqueueLocked(false, ComPort(kSetParity, ParityCode(settings.parity)));
    EnqueueLocked(false, ComPort(kSetStopSize, static_cast<uint8_t>(settings.stopBits)));
    EnqueueLocked(false, ComPort(kSetControl, FlowCode(settings.flow)));
    if (!AwaitAnswer(lock, QueueQuestionLocked(settings.baudRate)))
        return false;
    // A server that does not answer a size, parity or stop size is taken at its word.
    const bool taken = RateClose(settings.baudRate, replyRate_) &&
                       replyDataSize_.value_or(settings.dataBits) == settings.dataBits &&
                       replyParity_.value_or(ParityCode(settings.parity)) == ParityCode(settings.parity) &&
                       replyStopSize_.value_or(settings.stopBits) == settings.stopBits;
    if (taken) {
        settings_ = settings;
        settings_.baudRate = replyRate_;
    }
    return taken;
}

bool Rfc2217SerialDevice::SetDtr(bool on)
{
    return EnqueueControl(on ? kControlDtrOn : kControlDtrOff);
}

bool Rfc2217SerialDevice::SetRts(bool on)
{
    return EnqueueControl(on ? kControlRtsOn : kControlRtsOff);
}

bool Rfc2217SerialDevice::SetBreak(bool on)
{
    return EnqueueControl(on ? kControlBreakOn : kControlBreakOff);
}

bool Rfc2217SerialDevice::EnqueueControl(uint8_t value)
{
    std::unique_lock lock(mutex_);
    if (gone_)
        return false;
    if (QueuedBytesLocked() >= kOutputRoom &&
        !WaitFor(lock, timing_.answerMs, [this] { return QueuedBytesLocked() < kOutputRoom; })) {
        MarkGoneLocked("the server at " + peer_ + " stopped taking data for " + Seconds(timing_.answerMs));
        return false;
    }
    EnqueueControlLocked(value);
    return WaitForControlWindow(lock);
}

void Rfc2217SerialDevice::EnqueueControlLocked(uint8_t value)
{
    EnqueueLocked(false, ComPort(kSetControl, value));
    ++controlsSinceCheckpoint_;
}

// Line changes are not answered by every server (one serving a pseudo-terminal says
// nothing), so every kCheckpointEvery of them a question follows, unawaited. Before the
// next one goes, the one before must have been answered: this side then never runs more
// than two checkpoints ahead of the line, and a fixed wait made here (a Flash page's
// write time) still holds at the server.
bool Rfc2217SerialDevice::WaitForControlWindow(std::unique_lock<std::mutex>& lock)
{
    if (controlsSinceCheckpoint_ < kCheckpointEvery)
        return true;
    controlsSinceCheckpoint_ = 0;
    const uint64_t previous = checkpointAsk_;
    checkpointAsk_ = QueueQuestionLocked(0);
    if (rateReplies_ >= previous)
        return true;
    const auto start = std::chrono::steady_clock::now();
    const auto answerTime = std::chrono::milliseconds(timing_.answerMs);
    if (ReadUntilAnswered(lock, previous, [&] { return std::max(start, lastReceived_) + answerTime; }))
        return true;
    if (!gone_ && !cancelSeen_)
        MarkGoneLocked(NoAnswerTextLocked(start));
    return false;
}

bool Rfc2217SerialDevice::GetModemStatus(bool& dsr, bool& cts)
{
    std::unique_lock lock(mutex_);
    if (!AskServer(lock))
        return false;
    dsr = (modemState_ & kModemDsr) != 0;
    cts = (modemState_ & kModemCts) != 0;
    return true;
}

bool Rfc2217SerialDevice::ErrorCounts(SerialErrorCounts& counts)
{
    std::lock_guard lock(mutex_);
    if (!socket_.IsOpen())
        return false;
    counts = counts_;
    countsSeen_ = counts_;
    return true;
}

} // namespace kestrum
