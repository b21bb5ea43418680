#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/c_event.h"
#include "vdk/c_display_unit_programmer.h"
#include "vdk/c_programming_link.h"
#include "vdk/display_unit_image.h"

namespace kestrum {

// What a VDK-1 programming run needs. Only the port name is taken from the connection
// settings: the link always runs at 115200 8N1 without handshaking.
struct DisplayUnitRunRequest {
    std::string portName;
    CEvent* cancel = nullptr;  // the page's Cancel (may be null)
    DisplayUnitCallbacks callbacks;
    std::span<const uint8_t, kDisplayUnitImageSize> image = DisplayUnitImage();
    CProgrammingLink::DeviceFactory deviceFactory;  // empty: the platform's devices
    VdkWaits waits;
};

struct DisplayUnitRunOutcome {
    bool success = false;
    // The page's result text; empty when the port did not open.
    std::string resultText;
    // The last status set: the one text a front end shows for the outcome.
    std::string message;
    uint64_t lineOperations = 0;
};

// The whole VDK-1 load, on the calling thread, for the Program page and kestrum-cli:
// opens the programming link, programs and verifies, reports through the callbacks,
// and closes the link (the port's earlier settings put back) on every path.
DisplayUnitRunOutcome RunDisplayUnitLoad(const DisplayUnitRunRequest& request);

}  // namespace kestrum
