#pragma once

#include <cstdint>
#include <span>

namespace kestrum {

// The checks the simulated boot loader and block receiver make on what the PC sends,
// written here independently of the loader's own code, so that a fault in either one
// shows up as a refused frame or image instead of being agreed with.
namespace device_checks {

// CRC-16 of a Flash frame: polynomial 0x1021, most significant bit first, no reflection,
// no final XOR, continued from `crc` (0 for a fresh one).
uint16_t FrameCrc16(uint16_t crc, std::span<const uint8_t> bytes);

// Checksum of a RAM image: for each byte, rotate left by 7 bits, then XOR the byte in,
// continued from `sum` (0 for a fresh one).
uint32_t RamImageChecksum(uint32_t sum, std::span<const uint8_t> bytes);

}  // namespace device_checks
}  // namespace kestrum
