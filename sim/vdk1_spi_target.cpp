#include "sim/vdk1_spi_target.h"

namespace kestrum {

namespace {

constexpr uint8_t kEnable = 0xAC;
constexpr uint8_t kEnableSecond = 0x53;
constexpr uint8_t kEraseSecond = 0x80;
constexpr uint8_t kLoadLow = 0x40;
constexpr uint8_t kLoadHigh = 0x48;
constexpr uint8_t kWritePage = 0x4C;
constexpr uint8_t kReadLow = 0x20;
constexpr uint8_t kReadHigh = 0x28;
constexpr uint8_t kIdle = 0xFF;
constexpr uint32_t kFrameBits = 32;
constexpr uint32_t kWordsPerPage = Vdk1SpiTarget::kPageSize / 2;

}  // namespace

Vdk1SpiTarget::Vdk1SpiTarget()
{
    flash_.fill(0xFF);
    pageBuffer_.fill(0xFF);
}

void Vdk1SpiTarget::SlipOnReset(int bits, int resets)
{
    slipBits_ = bits % static_cast<int>(kFrameBits);
    slipResets_ = resets;
}

void Vdk1SpiTarget::SetReset(bool asserted)
{
    if (asserted == reset_)
        return;
    reset_ = asserted;
    enabled_ = false;
    shiftIn_ = 0;
    shiftOut_ = kIdle;
    bitCount_ = 0;
    clocks_ = 0;
    if (!asserted || slipResets_ == 0)
        return;
    // A missed clock: the unit believes the instruction started that many clocks later.
    bitCount_ = (kFrameBits - static_cast<uint32_t>(slipBits_)) % kFrameBits;
    if (slipResets_ > 0)
        --slipResets_;
}

bool Vdk1SpiTarget::Miso() const
{
    if (!reset_)
        return true;
    return ((shiftOut_ >> (7 - bitCount_ % 8)) & 1) != 0;
}

void Vdk1SpiTarget::ClockRising(bool mosi)
{
    if (!reset_)
        return;
    ++clocks_;
    shiftIn_ = static_cast<uint8_t>((shiftIn_ << 1) | (mosi ? 1 : 0));
    bitCount_ = (bitCount_ + 1) % kFrameBits;
    if (bitCount_ % 8 == 0)
        ByteReceived();
}

// Called as each byte completes; sets what MISO shifts out during the next byte.
void Vdk1SpiTarget::ByteReceived()
{
    const uint32_t index = (bitCount_ == 0 ? kFrameBits : bitCount_) / 8 - 1;
    frame_[index] = shiftIn_;
    shiftOut_ = kIdle;
    if (index == 1 && frame_[0] == kEnable && frame_[1] == kEnableSecond)
        shiftOut_ = kEnableSecond;
    if (index == 2 && enabled_ && !busy_ && (frame_[0] == kReadLow || frame_[0] == kReadHigh))
        shiftOut_ = ReadFlash((((frame_[1] << 8) | frame_[2]) << 1) | (frame_[0] == kReadHigh ? 1 : 0));
    if (index == 3)
        Execute();
}

void Vdk1SpiTarget::Execute()
{
    if (busy_)
        return;
    const uint8_t op = frame_[0];
    if (op == kEnable && frame_[1] == kEnableSecond) {
        enabled_ = true;
        return;
    }
    if (!enabled_)
        return;
    if (op == kEnable && frame_[1] == kEraseSecond) {
        flash_.fill(0xFF);
        pageBuffer_.fill(0xFF);
        ++erases_;
    } else if (op == kLoadLow || op == kLoadHigh) {
        pageBuffer_[(frame_[2] % kWordsPerPage) * 2 + (op == kLoadHigh ? 1 : 0)] = frame_[3];
    } else if (op == kWritePage) {
        WritePage((frame_[1] << 8) | frame_[2]);
    }
}

// Programming only clears bits, as in real Flash: a page written twice without an erase
// holds the AND of both.
void Vdk1SpiTarget::WritePage(uint32_t wordAddress)
{
    const uint32_t base = (wordAddress / kWordsPerPage) * kPageSize % kDisplayUnitImageSize;
    for (uint32_t i = 0; i < kPageSize; ++i) {
        if (!stuck_.contains(base + i))
            flash_[base + i] &= pageBuffer_[i];
    }
    pageBuffer_.fill(0xFF);
    ++pagesWritten_;
}

uint8_t Vdk1SpiTarget::ReadFlash(uint32_t address) const { return flash_[address % kDisplayUnitImageSize]; }

}  // namespace kestrum
