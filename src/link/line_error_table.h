#pragma once

#include <cstdint>
#include <string>

namespace kestrum {

// Line-error flags as the port reports them to DescribeLineErrors.
constexpr uint32_t CE_RXOVER = 0x01;   // input buffer overflow
constexpr uint32_t CE_OVERRUN = 0x02;  // hardware overrun
constexpr uint32_t CE_RXPARITY = 0x04; // parity error
constexpr uint32_t CE_FRAME = 0x08;    // framing error
constexpr uint32_t CE_BREAK = 0x10;    // break detected
constexpr uint32_t CE_TXFULL = 0x100;  // output buffer full
constexpr uint32_t CE_IOE = 0x400;     // I/O error (on Linux also: the device has gone)

// Per-port counters of the line-error report, kept by the port.
struct LineErrorPortCounts {
    int32_t overruns = 0;
    int32_t total = 0;
};

// The process-wide counts of the seven line-error kinds, shared by all ports, and the
// new-port signal that restarts them at the first error after a port was created.
// One lock covers the shared counts and the reporting port's counters, so reports from
// a receive thread and an owner thread never interleave.
class CLineErrorTable {
public:
    // Called by every new serial port.
    static void SignalNewPort();

    // Counts the flags and returns the report text. portRestarted tells the caller that
    // the counts restarted, so it empties its log.
    static std::string Count(uint32_t flags, LineErrorPortCounts& port, bool& portRestarted);

    // The running count of one kind, 0..6 in report order (for diagnostics and tests).
    static int32_t KindCount(int kind);
};

} // namespace kestrum
