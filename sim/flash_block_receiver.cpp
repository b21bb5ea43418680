#include "sim/flash_block_receiver.h"

#include "loader/boot_protocol.h"
#include "sim/device_checks.h"

namespace kestrum {

FlashBlockReceiver::FlashBlockReceiver(size_t flashLimit, const FlashFaults& faults)
    : flashLimit_(flashLimit), faults_(faults)
{
    frame_.reserve(boot::kFrameLength);
}

FlashBlockReceiver::Outcome FlashBlockReceiver::Feed(uint8_t byte, std::vector<uint8_t>& reply)
{
    if (done_)
        return Outcome::None;
    frame_.push_back(byte);
    if (frame_.size() < boot::kFrameLength)
        return Outcome::None;
    const Outcome outcome = Process(reply);
    frame_.clear();
    return outcome;
}

void FlashBlockReceiver::AbandonFrame(std::vector<uint8_t>& reply)
{
    if (frame_.empty() || done_)
        return;
    frame_.clear();
    ++resends_;
    reply.push_back(boot::kRequest);
}

FlashBlockReceiver::Outcome FlashBlockReceiver::Process(std::vector<uint8_t>& reply)
{
    const uint8_t type = frame_[0];
    const uint16_t field = static_cast<uint16_t>(frame_[1] | frame_[2] << 8);
    const uint8_t* data = &frame_[3];
    const size_t crcAt = 3 + boot::kBlockLength;
    const uint16_t crc = static_cast<uint16_t>(frame_[crcAt] | frame_[crcAt + 1] << 8);
    const uint16_t expected = device_checks::FrameCrc16(chainCrc_, {frame_.data(), crcAt});

    if (crc != expected || frame_[crcAt + 2] != boot::kFrameEnd) {
        ++resends_;
        reply.push_back(boot::kRequest);
        return Outcome::None;
    }
    if (frameNumber_ == faults_.errorFrame)
        return Fail(faults_.errorByte, "error byte injected on frame " + std::to_string(frameNumber_), reply);
    if (frameNumber_ == faults_.nakFrame && nakked_ < faults_.nakTimes) {
        ++nakked_;
        ++resends_;
        reply.push_back(boot::kRequest);
        return Outcome::None;
    }
    if (type == boot::kDataFrame) {
        if (field != counter_)
            return Fail(kOutOfSequence,
                        "block " + std::to_string(field) + " where " + std::to_string(counter_) + " was due", reply);
        if (!Append(data, boot::kBlockLength))
            return Fail(kFlashFull, "image larger than the Flash", reply);
        ++counter_;
    } else if (type == boot::kEndFrame) {
        if (field > boot::kBlockLength)
            return Fail(kBadFrameType, "end frame with " + std::to_string(field) + " bytes", reply);
        if (!Append(data, field))
            return Fail(kFlashFull, "image larger than the Flash", reply);
        done_ = true;
    } else {
        return Fail(kBadFrameType, "frame type " + std::to_string(type), reply);
    }
    chainCrc_ = crc;
    if (frameNumber_ == faults_.staleRequestFrame)
        reply.push_back(boot::kRequest);
    ++frameNumber_;
    reply.push_back(boot::kAccepted);
    return done_ ? Outcome::Finished : Outcome::None;
}

bool FlashBlockReceiver::Append(const uint8_t* data, size_t count)
{
    if (image_.size() + count > flashLimit_)
        return false;
    image_.insert(image_.end(), data, data + count);
    return true;
}

FlashBlockReceiver::Outcome FlashBlockReceiver::Fail(uint8_t errorByte, const std::string& why,
                                                     std::vector<uint8_t>& reply)
{
    error_ = why;
    done_ = true;
    reply.push_back(errorByte);
    return Outcome::Failed;
}

}  // namespace kestrum
