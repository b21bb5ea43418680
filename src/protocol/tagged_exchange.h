#pragma once

#include <string>

#include "protocol/link_wait.h"
#include "protocol/protocol_timing.h"
#include "protocol/tagged_reply.h"

namespace kestrum {

class CPort;

// Sends a tagged command to the receiver and waits at most timeoutMs for the RE or ER frame
// that carries the same tag. An empty tag gets a random five-digit one. Status tells which
// frame came (NoFrame on time-out, a closed port, or stop); reply holds the reply text of
// an RE or ER frame and is empty otherwise. True only for an RE frame.
//
// The received bytes are left in the port's buffer; the next exchange empties it first.
bool TaggedExchange(CPort& port, const std::string& tag, const std::string& command, std::string& reply,
                    int timeoutMs, TaggedStatus& status, const StopCheck& stop = {},
                    const ProtocolTiming& timing = {});

// Scans what the port has received so far for the tag's reply frame.
TaggedReply FindTaggedReply(CPort& port, const std::string& tag);

// Writes text with the port's blocking write; true when all of it went out.
bool WriteText(CPort& port, const std::string& text);

// The rate the port's device is set to now, read from the device; the port's last set
// rate when the device cannot say.
uint32_t DeviceRate(CPort& port);

// The port's reply time-out for rate, cut to the timing's cap when it has one.
int ReplyTimeoutFor(CPort& port, uint32_t rate, const ProtocolTiming& timing);

}  // namespace kestrum
