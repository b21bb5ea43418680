#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrum {

// Bytes and checks of the boot loader's byte protocol, shared by the loader and the
// device simulator.
namespace boot {

constexpr uint8_t kHandshake = 0x06;   // program to device, four times; also "frame accepted"
constexpr uint8_t kAccepted = 0x06;
constexpr uint8_t kRequest = 0x15;     // boot loader announcing itself / asking for a (re)send
constexpr uint8_t kProceed = 0x01;
constexpr uint8_t kDoNotProceed = 0x00;
constexpr uint8_t kAcknowledge = 0x1E; // RAM image taken; final acknowledgement
constexpr uint8_t kCaptureFill = 0x55;
constexpr uint8_t kFirstError = 0x21;
constexpr uint8_t kLastError = 0x2F;

constexpr uint8_t kDataFrame = 0x02;
constexpr uint8_t kEndFrame = 0x04;
constexpr uint8_t kFrameEnd = 0x03;
constexpr size_t kBlockLength = 512;
constexpr size_t kFrameLength = 1 + 2 + kBlockLength + 2 + 1;

inline bool IsErrorByte(uint8_t b)
{
    return b >= kFirstError && b <= kLastError;
}

// A byte that answers a Flash frame; anything else on the line is ignored.
inline bool IsReplyByte(uint8_t b)
{
    return b == kAccepted || b == kRequest || IsErrorByte(b);
}

// CRC-16, polynomial 0x1021, MSB first, no reflection, no final XOR, from `crc`.
uint16_t Crc16(uint16_t crc, const uint8_t* data, size_t count);

// RAM image checksum: rotate left by 7, then XOR each byte, starting from `sum`.
uint32_t RamChecksum(uint32_t sum, const uint8_t* data, size_t count);

// Builds one frame of kFrameLength bytes into `frame`: type, field (LSB first), the
// block of `blockLength` data bytes, the CRC chained from `chainCrc` (LSB first), 0x03.
// Returns the frame's CRC.
uint16_t BuildFrame(uint8_t type, uint16_t field, const uint8_t* block, size_t blockLength, uint16_t chainCrc,
                    uint8_t* frame);

}  // namespace boot
}  // namespace kestrum
