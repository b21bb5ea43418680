#pragma once

namespace kestrum {

// Pauses and time-outs of a load. The shipped program uses these values; tests may
// shorten them to keep the suite fast.
struct LoadTiming {
    int replyTimeoutMs = 20000;       // every boot-loader reply wait, and each frame write
    int captureLimitMs = 15000;       // how long the capture watches for 0x15
    int captureResetEveryMs = 1000;   // reset command / pulse repeat during capture
    int captureReadMs = 10;           // one capture pass's wait for 0x15
    int capturedSettleMs = 200;       // pause after 0x15 before the handshake
    int handshakeGapMs = 50;          // between the four handshake bytes
    int sleepVariantMs = 100;         // after the "sleep" reset command
    int checksumWriteMs = 1000;       // each checksum byte's write time-out
    int capturePromptMs = 15000;      // the countdown shown for power-on capture
};

}  // namespace kestrum
