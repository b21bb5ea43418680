#pragma once

#include <cstdint>
#include <vector>

#include "loader/c_load_line.h"
#include "platform/c_stopwatch.h"

namespace kestrum {

// Sends the Flash image in framed blocks with a CRC chained from block to block; each
// frame is answered with 0x06 (taken), 0x15 (send again) or an error byte 0x21..0x2F.
class BlockSender {
public:
    enum State { kClosed = 0, kOpen = 1, kFailed = 2 };
    static constexpr size_t kMaxBlockLength = 2048;
    static constexpr int kReplyAttempts = 20000;
    static constexpr int kResends = 2;

    // Opens the transfer at once: the device must ask for the first block with 0x15.
    BlockSender(CLoadLine* line, const CStopwatch* stopwatch, int replyTimeoutMs, size_t blockLength);
    ~BlockSender() { Close(); }
    BlockSender(const BlockSender&) = delete;
    BlockSender& operator=(const BlockSender&) = delete;

    bool Open();
    // The count consumed, or -1 once the transfer has failed.
    long Write(const uint8_t* data, size_t count);
    // Sends the end frame; true when the transfer is closed afterwards.
    bool Finish();
    // Ends the transfer on any exit. An open transfer is abandoned without its end frame:
    // an end frame after a cancel would make the device commit an incomplete image.
    void Close();

    int GetState() const { return state_; }
    uint16_t BlockCounter() const { return blockCounter_; }

private:
    uint8_t WaitReply();
    uint8_t ReadAttempt();
    bool SendFrame(uint8_t type);
    bool WriteFrameParts(const std::vector<uint8_t>& frame);

    CLoadLine* line_;
    const CStopwatch* stopwatch_;
    int state_ = kClosed;
    int replyTimeoutMs_;
    size_t blockLength_;
    std::vector<uint8_t> block_;
    size_t fill_ = 0;
    uint16_t blockCounter_ = 0;
    uint16_t chainCrc_ = 0;
};

}  // namespace kestrum
