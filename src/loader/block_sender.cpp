#include "loader/block_sender.h"

#include <algorithm>
#include <cstring>

#include "loader/boot_protocol.h"

namespace kestrum {

BlockSender::BlockSender(CLoadLine* line, const CStopwatch* stopwatch, int replyTimeoutMs, size_t blockLength)
    : line_(line), stopwatch_(stopwatch), replyTimeoutMs_(replyTimeoutMs),
      blockLength_(std::min(blockLength, kMaxBlockLength)), block_(kMaxBlockLength, 0)
{
    if (line_ != nullptr && stopwatch_ != nullptr)
        Open();
}

bool BlockSender::Open()
{
    line_->Port().PurgeOutput();
    state_ = kClosed;
    fill_ = 0;
    blockCounter_ = 0;
    chainCrc_ = 0;
    if (WaitReply() == boot::kRequest)
        state_ = kOpen;
    if (state_ == kClosed)
        state_ = kFailed;
    return state_ == kOpen;
}

// One attempt looks at the bytes that arrived together: those already waiting, or else the
// one awaited and whatever came with it. The last reply byte among them counts, so a stale
// 0x15 before an 0x06 still means accepted; the bytes behind it stay on the line for the
// next reader, so a 0x1E right behind the end frame's 0x06 is still the final acknowledgement.
uint8_t BlockSender::ReadAttempt()
{
    std::vector<uint8_t> burst = line_->TakeArrived();
    if (burst.empty()) {
        uint8_t byte = 0xFF;
        if (line_->ReadByte(replyTimeoutMs_, byte) != CLoadLine::ReadResult::Byte)
            return 0xFF;
        burst = line_->TakeArrived();
        burst.insert(burst.begin(), byte);
    }
    const auto reply = std::find_if(burst.rbegin(), burst.rend(), boot::IsReplyByte);
    if (reply == burst.rend())
        return burst.back();
    const auto behind = static_cast<size_t>(reply.base() - burst.begin());
    line_->PutBack(burst.data() + behind, burst.size() - behind);
    return *reply;
}

// Bounded both by the reply time-out and by the number of attempts, so a line full of
// meaningless bytes cannot hold the transfer.
uint8_t BlockSender::WaitReply()
{
    const uint32_t t0 = stopwatch_->Elapsed();
    uint8_t last = 0xFF;
    for (int attempt = 0; attempt < kReplyAttempts; ++attempt) {
        if (stopwatch_->Elapsed() - t0 >= static_cast<uint32_t>(replyTimeoutMs_) || line_->Stopped() ||
            line_->Gone())
            return last;
        last = ReadAttempt();
        if (last == boot::kAccepted || last == boot::kRequest)
            return last;
        if (boot::IsErrorByte(last)) {
            state_ = kFailed;
            return last;
        }
    }
    return last;
}

bool BlockSender::WriteFrameParts(const std::vector<uint8_t>& frame)
{
    const size_t parts[][2] = {{0, 1}, {1, 2}, {3, blockLength_}, {3 + blockLength_, 2}, {5 + blockLength_, 1}};
    for (const auto& part : parts) {
        const auto length = static_cast<uint32_t>(part[1]);
        if (line_->Port().WriteTimed(frame.data() + part[0], length, replyTimeoutMs_) != length)
            return false;
    }
    return true;
}

bool BlockSender::SendFrame(uint8_t type)
{
    const auto field = static_cast<uint16_t>(type == boot::kEndFrame ? fill_ : blockCounter_);
    std::fill(block_.begin() + static_cast<long>(fill_), block_.begin() + static_cast<long>(blockLength_), 0);
    std::vector<uint8_t> frame(blockLength_ + 6);
    const uint16_t crc = boot::BuildFrame(type, field, block_.data(), blockLength_, chainCrc_, frame.data());
    uint8_t reply = 0xFF;
    for (int sending = 0; sending <= kResends; ++sending) {
        if (!WriteFrameParts(frame)) {
            line_->NoteIfGone(); // a device that vanished mid-frame is not just a refusal
            break;
        }
        reply = WaitReply();
        if (reply != boot::kRequest)
            break;
    }
    if (reply != boot::kAccepted)
        return false;
    ++blockCounter_;
    chainCrc_ = crc;
    fill_ = 0;
    return true;
}

long BlockSender::Write(const uint8_t* data, size_t count)
{
    if (state_ != kOpen)
        return -1;
    size_t consumed = 0;
    while (consumed < count) {
        const size_t take = std::min(count - consumed, blockLength_ - fill_);
        std::memcpy(block_.data() + fill_, data + consumed, take);
        fill_ += take;
        if (fill_ == blockLength_ && !SendFrame(boot::kDataFrame)) {
            state_ = kFailed;
            return -1;
        }
        consumed += take;
    }
    return static_cast<long>(count);
}

bool BlockSender::Finish()
{
    if (state_ == kOpen)
        state_ = SendFrame(boot::kEndFrame) ? kClosed : kFailed;
    else if (state_ == kFailed)
        state_ = kClosed;
    return state_ == kClosed;
}

}  // namespace kestrum

namespace kestrum {

void BlockSender::Close()
{
    state_ = kClosed;
}

}  // namespace kestrum
