#pragma once

namespace kestrum {

// The fixed waits of VDK-1 programming, in milliseconds. The unit needs them (reset,
// erase and page-write times); tests may pass shorter ones, the program never does.
constexpr int kVdkResetLowMs = 1;       // DTR dropped during a reset pulse
constexpr int kVdkResetSettleMs = 20;   // after DTR is raised again
constexpr int kVdkReleaseMs = 1;        // after DTR is dropped for good
constexpr int kVdkChipEraseMs = 112;    // after the chip-erase command
constexpr int kVdkWritePageMs = 56;     // after each write-page command

constexpr int kVdkSyncAttempts = 32;

struct VdkWaits {
    int resetLowMs = kVdkResetLowMs;
    int resetSettleMs = kVdkResetSettleMs;
    int releaseMs = kVdkReleaseMs;
    int chipEraseMs = kVdkChipEraseMs;
    int writePageMs = kVdkWritePageMs;
};

}  // namespace kestrum
