// A batch of line changes and modem reads sent at once, its answers collected in one round trip.
#include "platform/rfc2217_serial_device.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "platform/rfc2217_serial_device_internals.h"

namespace kestrum {

using namespace rfc2217;

// Line changes as SET-CONTROL commands and each read as a question, numbered on from
// the questions asked so far, with one more question when the batch does not end with a
// read; returns the number of the last question.
uint64_t Rfc2217SerialDevice::EncodeBatchLocked(const SerialLineBatch& batch, std::vector<uint8_t>& bytes)
{
    using Step = SerialLineBatch::Step;
    static constexpr uint8_t kControls[] = {kControlDtrOff, kControlDtrOn,    kControlRtsOff,
                                            kControlRtsOn,  kControlBreakOff, kControlBreakOn};
    bytes.reserve(batch.Size() * 7 + (batch.Reads() + 1) * 10);
    for (const Step step : batch.Steps()) {
        if (step == Step::ReadModem) {
            Rfc2217TelnetCodec::AppendComPort32(bytes, kSetBaudRate, 0);
            ++rateAsks_;
        } else {
            Rfc2217TelnetCodec::AppendComPort(bytes, kSetControl, kControls[static_cast<size_t>(step)]);
        }
    }
    if (batch.Empty() || batch.Steps().back() != Step::ReadModem) {
        Rfc2217TelnetCodec::AppendComPort32(bytes, kSetBaudRate, 0);
        ++rateAsks_;
    }
    return rateAsks_;
}

LineBatchResult Rfc2217SerialDevice::RunLineBatch(const SerialLineBatch& batch,
                                                  const std::function<bool()>& stopped)
{
    LineBatchResult result;
    // The batch's stop check stands in for the device's cancel check while it runs.
    std::function<bool()> ownCheck = std::exchange(cancelCheck_, stopped);
    const bool ownSeen = std::exchange(cancelSeen_, false);
    std::unique_lock lock(mutex_);
    if (!socket_.IsOpen() || gone_) {
        result.end = LineBatchResult::End::Gone;
        result.error = failText_.empty() ? "the network port is not open" : failText_;
    } else {
        std::vector<uint8_t> bytes;
        NoteQuestionLocked();
        batchFirstAsk_ = rateAsks_ + 1;
        batchAnswers_.assign(batch.Reads(), ModemLines{});
        const uint64_t lastAsk = EncodeBatchLocked(batch, bytes);
        EnqueueLocked(false, bytes, false);
        controlsSinceCheckpoint_ = 0;
        dataUnconfirmed_ = false;
        confirmingAsk_ = lastAsk;
        confirmingAskedAt_ = std::chrono::steady_clock::now();
        result.end = AwaitBatchLocked(lock, lastAsk);
        const uint64_t answered = rateReplies_ >= batchFirstAsk_ ? rateReplies_ - batchFirstAsk_ + 1 : 0;
        result.reads.assign(batchAnswers_.begin(),
                            batchAnswers_.begin() +
                                static_cast<long>(std::min<uint64_t>(answered, batch.Reads())));
        if (result.end == LineBatchResult::End::Gone)
            result.error = failText_;
        else if (result.end == LineBatchResult::End::Stopped)
            result.error = "stopped while the server at " + peer_ + " worked through the batch";
        batchAnswers_.clear();
    }
    lock.unlock();
    cancelCheck_ = std::move(ownCheck);
    cancelSeen_ = ownSeen;
    return result;
}

LineBatchResult::End Rfc2217SerialDevice::AwaitBatchLocked(std::unique_lock<std::mutex>& lock,
                                                           uint64_t lastAsk)
{
    if (ReadUntilAnswered(lock, lastAsk, [this] { return AnswerDueLocked(); })) {
        ++roundTrips_;
        return LineBatchResult::End::Completed;
    }
    if (gone_)
        return LineBatchResult::End::Gone;
    if (cancelSeen_)
        return LineBatchResult::End::Stopped;
    MarkGoneLocked(NoAnswerTextLocked(confirmingAskedAt_));
    return LineBatchResult::End::Gone;
}

} // namespace kestrum
