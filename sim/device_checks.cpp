#include "sim/device_checks.h"

#include <bit>

namespace kestrum::device_checks {

// Bit by bit rather than from a table: slow, but plainly the algorithm.
uint16_t FrameCrc16(uint16_t crc, std::span<const uint8_t> bytes)
{
    constexpr uint16_t kPolynomial = 0x1021;
    for (const uint8_t byte : bytes) {
        crc = static_cast<uint16_t>(crc ^ (byte << 8));
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = (crc & 0x8000) != 0;
            crc = static_cast<uint16_t>(crc << 1);
            if (carry)
                crc ^= kPolynomial;
        }
    }
    return crc;
}

uint32_t RamImageChecksum(uint32_t sum, std::span<const uint8_t> bytes)
{
    for (const uint8_t byte : bytes)
        sum = std::rotl(sum, 7) ^ byte;
    return sum;
}

}  // namespace kestrum::device_checks
