#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrum {

// Faults of the Flash block exchange. Frames are numbered from 0 in the order they are
// accepted; the end frame's number is the count of data frames before it.
struct FlashFaults {
    int nakFrame = -1;        // this frame is answered with a resend request ...
    int nakTimes = 1;         // ... this many times (3 or more makes the loader give up)
    int errorFrame = -1;      // this frame is answered with errorByte, which ends the transfer
    uint8_t errorByte = 0x25;
    int staleRequestFrame = -1;  // this frame's 0x06 follows a stale 0x15 in the same write
};

// The Flash block receiver that a receiver's RAM image runs: takes 518-byte frames, checks
// the chained CRC, the trailer and the block counter, and collects the image.
// Replies: 0x06 accepted, 0x15 send it again (bad CRC or trailer, or a frame that stalled),
// an error byte when the transfer cannot go on:
//   0x21 unknown frame type or end-frame length over 512
//   0x22 block counter out of sequence
//   0x23 image larger than the Flash
class FlashBlockReceiver {
public:
    enum class Outcome {
        None,      // frame incomplete, or answered and the transfer goes on
        Finished,  // end frame accepted; Image() is complete
        Failed,    // an error byte was sent; Error() tells why
    };

    static constexpr uint8_t kBadFrameType = 0x21;
    static constexpr uint8_t kOutOfSequence = 0x22;
    static constexpr uint8_t kFlashFull = 0x23;

    FlashBlockReceiver(size_t flashLimit, const FlashFaults& faults);

    Outcome Feed(uint8_t byte, std::vector<uint8_t>& reply);
    // A frame stopped arriving halfway: it is dropped and a resend requested.
    void AbandonFrame(std::vector<uint8_t>& reply);
    bool FrameInProgress() const { return !frame_.empty(); }
    bool Done() const { return done_; }

    const std::vector<uint8_t>& Image() const { return image_; }
    uint16_t BlocksAccepted() const { return counter_; }
    int ResendsRequested() const { return resends_; }
    const std::string& Error() const { return error_; }

private:
    Outcome Process(std::vector<uint8_t>& reply);
    Outcome Fail(uint8_t errorByte, const std::string& why, std::vector<uint8_t>& reply);
    bool Append(const uint8_t* data, size_t count);

    const size_t flashLimit_;
    const FlashFaults faults_;
    std::vector<uint8_t> frame_;
    std::vector<uint8_t> image_;
    uint16_t counter_ = 0;
    uint16_t chainCrc_ = 0;
    int frameNumber_ = 0;   // frames accepted so far, end frame included
    int nakked_ = 0;        // resend requests given to the faulty frame so far
    int resends_ = 0;
    bool done_ = false;
    std::string error_;
};

}  // namespace kestrum
