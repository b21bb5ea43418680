// Questions to the server and its answers: the rate request that tells what it has dealt with,
// the watch for a server gone silent, and the COM-port replies and notifications.
#include "platform/rfc2217_serial_device.h"

#include <algorithm>
#include <chrono>

#include "platform/rfc2217_serial_device_internals.h"

namespace kestrum {

using namespace rfc2217;

namespace {

// A question waits at most this many answer times while the server keeps sending.
constexpr int kAnswerStretch = 20;

} // namespace

// The question is the rate request (0 asks); its answer comes after the server has dealt
// with everything sent before, data included.
uint64_t Rfc2217SerialDevice::QueueQuestionLocked(uint32_t rate)
{
    NoteQuestionLocked();
    const uint64_t ask = ++rateAsks_;
    EnqueueLocked(false, ComPort32(kSetBaudRate, rate), false);
    dataUnconfirmed_ = false;
    confirmingAsk_ = ask;
    confirmingAskedAt_ = std::chrono::steady_clock::now();
    return ask;
}

// When the answer to the newest question is overdue: answerMs after it was asked, moved
// on while the server keeps sending (working through queued line changes, say), up to
// kAnswerStretch answer times.
std::chrono::steady_clock::time_point Rfc2217SerialDevice::AnswerDueLocked() const
{
    const auto answerTime = std::chrono::milliseconds(timing_.answerMs);
    return std::min(std::max(confirmingAskedAt_, lastReceived_) + answerTime,
                    confirmingAskedAt_ + answerTime * kAnswerStretch);
}

bool Rfc2217SerialDevice::AwaitAnswer(std::unique_lock<std::mutex>& lock, uint64_t ask)
{
    if (ReadUntilAnswered(lock, ask, [this] { return AnswerDueLocked(); })) {
        ++roundTrips_;
        return true;
    }
    if (!gone_ && !cancelSeen_)
        MarkGoneLocked(NoAnswerTextLocked(confirmingAskedAt_));
    return false;
}

// Asks the current rate and waits for the answer: everything sent before has then been
// applied by the server, and every notification it made on the way has arrived.
bool Rfc2217SerialDevice::AskServer(std::unique_lock<std::mutex>& lock)
{
    if (gone_)
        return false;
    return AwaitAnswer(lock, QueueQuestionLocked(0));
}

// The real time waited, and whether the server talked meanwhile (one working through
// queued line changes does, and gets more time: see AnswerDueLocked).
std::string Rfc2217SerialDevice::NoAnswerTextLocked(std::chrono::steady_clock::time_point askedAt) const
{
    return "the server at " + peer_ + " stopped answering: it did not answer within " + SecondsSince(askedAt) +
           (lastReceived_ > askedAt ? " (it kept sending other bytes)" : "");
}

// Called before a question is counted: one asked while none waits starts the wait.
void Rfc2217SerialDevice::NoteQuestionLocked()
{
    if (rateReplies_ >= rateAsks_)
        questionWaitingSince_ = std::chrono::steady_clock::now();
}

// On the I/O thread: a server silent for silenceMs is asked a question, and one that
// then stays silent for answerMs after it counts as gone, so every wait on it ends.
void Rfc2217SerialDevice::WatchServerLocked()
{
    if (!watching_ || gone_ || stop_)
        return;
    const auto now = std::chrono::steady_clock::now();
    const auto heard = std::max(lastReceived_, connectedAt_);
    if (rateReplies_ >= rateAsks_) {
        if (now - heard >= std::chrono::milliseconds(timing_.silenceMs))
            QueueQuestionLocked(0);
        return;
    }
    const auto silentSince = std::max(heard, questionWaitingSince_);
    if (now - silentSince >= std::chrono::milliseconds(timing_.answerMs))
        MarkGoneLocked("the server at " + peer_ + " stopped answering: nothing came from it for " +
                       SecondsSince(heard));
}

void Rfc2217SerialDevice::OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload)
{
    if (option != kOptionComPort || payload.empty())
        return;
    OnComPortReply(payload[0], std::span<const uint8_t>(payload).subspan(1));
}

// The answer to a question: every report the server made before it holds for the read
// that asked it.
void Rfc2217SerialDevice::OnRateReply(std::span<const uint8_t> value)
{
    if (value.size() >= 4)
        replyRate_ =
            (uint32_t(value[0]) << 24) | (uint32_t(value[1]) << 16) | (uint32_t(value[2]) << 8) | value[3];
    ++rateReplies_;
    questionWaitingSince_ = std::chrono::steady_clock::now();
    if (rateReplies_ >= batchFirstAsk_ && rateReplies_ - batchFirstAsk_ < batchAnswers_.size())
        batchAnswers_[rateReplies_ - batchFirstAsk_] =
            ModemLines{(modemState_ & kModemDsr) != 0, (modemState_ & kModemCts) != 0};
}

void Rfc2217SerialDevice::OnComPortReply(uint8_t command, std::span<const uint8_t> value)
{
    if (command == kSetBaudRate + kReplyOffset) {
        OnRateReply(value);
        return;
    }
    if (value.empty())
        return;
    const uint8_t first = value[0];
    switch (command) {
    case kSetDataSize + kReplyOffset:
        replyDataSize_ = first;
        break;
    case kSetParity + kReplyOffset:
        replyParity_ = first;
        break;
    case kSetStopSize + kReplyOffset:
        replyStopSize_ = first;
        break;
    case kSetControl + kReplyOffset:
        if (first >= kControlFlowNone && first <= kControlFlowRtsCts)
            replyFlow_ = first;
        break;
    case kNotifyLineState + kReplyOffset:
        counts_.framing += (first & kLineFraming) ? 1 : 0;
        counts_.parity += (first & kLineParity) ? 1 : 0;
        counts_.overrun += (first & kLineOverrun) ? 1 : 0;
        counts_.breaks += (first & kLineBreak) ? 1 : 0;
        break;
    case kNotifyModemState + kReplyOffset:
        modemState_ = first;
        break;
    default:
        break;
    }
}

} // namespace kestrum
