#pragma once

#include <cstdint>
#include <string>

namespace kestrum {

// The connection settings record. Codes: handshaking 0 none, 1 RTS/CTS, 2 XON/XOFF;
// parity 0 none, 1 odd, 2 even; wordLength 0..3 for 5..8 data bits; stopBits 0 one,
// 1 two. The four line-level flags are 1 when the line is low.
struct PortSettings {
    int32_t handshaking = 0;
    int32_t parity = 0;
    int32_t wordLength = 3;
    int32_t stopBits = 0;
    int32_t rtsLow = 1;
    int32_t ctsLow = 1;
    int32_t dtrLow = 1;
    int32_t dsrLow = 1;
    int32_t speed = 115200;
    std::string port;
};

} // namespace kestrum
