#pragma once

#include "protocol/c_device_link.h"

namespace kestrum {

// The VDK-1's protocol object: waits for the unit to announce itself (Connect) and sends
// it framed commands, taking the reply that carries the command's tag (Query).
class CDisplayUnitLink : public CDeviceLink {
public:
    using CDeviceLink::CDeviceLink;

    // rate, value and tries are not used: the unit announces itself on its own.
    int Connect(CPort& port, uint32_t rate, int value, CEvent* cancel, int tries) override;
    bool Query(CPort& port, const std::string& tag, const std::string& command, std::string& reply,
               int timeoutMs) override;
};

}  // namespace kestrum
