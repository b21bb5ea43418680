#include "loader/boot_protocol.h"

#include <array>
#include <cstring>

namespace kestrum::boot {

namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

uint16_t Crc16(uint16_t crc, const uint8_t* data, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

uint32_t RamChecksum(uint32_t sum, const uint8_t* data, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        sum = ((sum << 7) | (sum >> 25)) ^ data[i];
    return sum;
}

uint16_t BuildFrame(uint8_t type, uint16_t field, const uint8_t* block, size_t blockLength, uint16_t chainCrc,
                    uint8_t* frame)
{
    frame[0] = type;
    frame[1] = static_cast<uint8_t>(field & 0xFF);
    frame[2] = static_cast<uint8_t>(field >> 8);
    std::memcpy(frame + 3, block, blockLength);
    const uint16_t crc = Crc16(chainCrc, frame, 3 + blockLength);
    frame[3 + blockLength] = static_cast<uint8_t>(crc & 0xFF);
    frame[4 + blockLength] = static_cast<uint8_t>(crc >> 8);
    frame[5 + blockLength] = kFrameEnd;
    return crc;
}

}  // namespace kestrum::boot
