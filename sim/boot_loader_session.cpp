#include "sim/boot_loader_session.h"

#include "loader/boot_protocol.h"
#include "sim/device_checks.h"
#include "sim/image_layout.h"

#include <cstdio>

namespace kestrum {

namespace {

constexpr int kHandshakeBytes = 4;

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

}  // namespace

BootLoaderSession::BootLoaderSession(const BootLoaderSettings& settings) : settings_(settings) {}

bool BootLoaderSession::FinalAckRequested() const
{
    if (image_.size() < image_layout::kRamFinalAckOffset + 4)
        return true;
    return ReadBigEndian32(&image_[image_layout::kRamFinalAckOffset]) != 0;
}

BootLoaderSession::Outcome BootLoaderSession::Feed(uint8_t byte, std::vector<uint8_t>& reply)
{
    switch (stage_) {
    case Stage::Handshake: return FeedHandshake(byte, reply);
    case Stage::Verdict: return FeedVerdict(byte);
    case Stage::RamImage: return FeedRamImage(byte, reply);
    case Stage::Done: break;
    }
    return Outcome::None;
}

BootLoaderSession::Outcome BootLoaderSession::FeedHandshake(uint8_t byte, std::vector<uint8_t>& reply)
{
    // Leftovers of the capture stream and of the reset command are not meant for us.
    if (byte != boot::kHandshake)
        return Outcome::None;
    ++handshakes_;
    // Each handshake byte is answered with a request byte, so the loader's three discarded
    // reads are served at once; the version check skips request bytes.
    reply.push_back(boot::kRequest);
    if (handshakes_ == kHandshakeBytes) {
        reply.push_back(settings_.deviceId);
        reply.push_back(settings_.procedureVersion);
        stage_ = Stage::Verdict;
    }
    return Outcome::None;
}

BootLoaderSession::Outcome BootLoaderSession::FeedVerdict(uint8_t byte)
{
    if (byte == boot::kProceed) {
        stage_ = Stage::RamImage;
        return Outcome::None;
    }
    if (byte == boot::kDoNotProceed) {
        stage_ = Stage::Done;
        return Outcome::Refused;
    }
    return Fail("verdict byte " + Hex(byte));
}

BootLoaderSession::Outcome BootLoaderSession::FeedRamImage(uint8_t byte, std::vector<uint8_t>& reply)
{
    if (declaredLength_ == 0 || image_.size() < declaredLength_) {
        image_.push_back(byte);
        if (image_.size() == 4 && declaredLength_ == 0) {
            declaredLength_ = ReadBigEndian32(image_.data());
            if (declaredLength_ == 0) {
                // An empty image: the word was its checksum, which is 0.
                image_.clear();
                return FinishRamImage(reply);
            }
            if (declaredLength_ < image_layout::kRamMinimumLength || declaredLength_ > settings_.ramLimit) {
                reply.push_back(boot::kRequest);
                return Fail("RAM image length " + std::to_string(declaredLength_));
            }
        }
        return Outcome::None;
    }
    checksum_.push_back(byte);
    return checksum_.size() == 4 ? FinishRamImage(reply) : Outcome::None;
}

BootLoaderSession::Outcome BootLoaderSession::FinishRamImage(std::vector<uint8_t>& reply)
{
    const uint32_t expected = device_checks::RamImageChecksum(0, image_);
    const uint32_t received = checksum_.empty() ? 0 : ReadBigEndian32(checksum_.data());
    if (expected != received) {
        reply.push_back(boot::kRequest);
        return Fail("RAM checksum " + Hex(received) + ", image sums to " + Hex(expected));
    }
    reply.push_back(settings_.ramAck);
    stage_ = Stage::Done;
    return Outcome::RamLoaded;
}

BootLoaderSession::Outcome BootLoaderSession::Fail(const std::string& why)
{
    error_ = why;
    stage_ = Stage::Done;
    return Outcome::Failed;
}

}  // namespace kestrum
