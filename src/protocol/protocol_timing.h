#pragma once

namespace kestrum {

// Pauses and time-outs of the device protocols, in milliseconds. The defaults are what the
// devices need and what the program uses; tests may pass shorter values.
inline constexpr int kSettlePauseMs = 100;         // after raw writes and rate changes
inline constexpr int kExchangePauseMs = 100;       // around a tagged command
inline constexpr int kReplyPollMs = 50;            // between scans for a tagged reply
inline constexpr int kVdkConnectTimeoutMs = 6000;  // for the unit's announcement
inline constexpr int kVdkConnectPollMs = 200;
inline constexpr int kVdkReplySettleMs = 200;      // before the first look for a reply
inline constexpr int kVdkReplyPollMs = 100;
inline constexpr int kVdkQueryTimeoutMs = 2000;    // for the version reply

struct ProtocolTiming {
    int settlePauseMs = kSettlePauseMs;
    int exchangePauseMs = kExchangePauseMs;
    int replyPollMs = kReplyPollMs;
    // When above 0, the port's reply time-out is cut to this; 0 keeps the port's own.
    int replyTimeoutCapMs = 0;
    int vdkConnectTimeoutMs = kVdkConnectTimeoutMs;
    int vdkConnectPollMs = kVdkConnectPollMs;
    int vdkReplySettleMs = kVdkReplySettleMs;
    int vdkReplyPollMs = kVdkReplyPollMs;
    int vdkQueryTimeoutMs = kVdkQueryTimeoutMs;
};

}  // namespace kestrum
