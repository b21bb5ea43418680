#pragma once

#include <string>
#include <string_view>

namespace kestrum {

// The announcement the display unit sends on its own while it is idle.
inline constexpr std::string_view kDisplayUnitAnnounce = "@0p";

// A command frame for the display unit: "#", the tag, the argument, and a checksum byte
// that is the sum of every preceding byte modulo 256.
std::string BuildDisplayUnitFrame(std::string_view tag, std::string_view argument);

enum class DisplayUnitReplyState { Pending, Complete, Failed };

// Looks for the unit's reply to tag in the bytes received so far: "@2" + tag, the reply
// characters, their checksum byte (dropped, not verified), then the "@" of the next frame.
// Complete fills reply; Failed means "@3" arrived and no reply for the tag has.
DisplayUnitReplyState FindDisplayUnitReply(std::string_view received, std::string_view tag, std::string& reply);

// Drops received bytes that can no longer be part of the reply to tag, so the text kept
// between polls stays small. Bytes that may still complete a marker are kept.
void DiscardBeforeDisplayUnitReply(std::string& received, std::string_view tag);

}  // namespace kestrum
