#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "app/port_details.h"
#include "platform/bit_bang_port.h"
#include "platform/c_event.h"
#include "vdk/c_display_unit_programmer.h"
#include "vdk/c_programming_link.h"
#include "vdk/display_unit_image.h"
#include "vdk/vdk_line_settings.h"

namespace kestrum {

// What a VDK-1 programming run needs. Only the port name is taken from the connection
// settings: the link always runs at 115200 8N1 without handshaking.
struct DisplayUnitRunRequest {
    std::string portName;
    VdkLineSettings lines;     // control lines or an FTDI adapter's bit-bang mode
    CEvent* cancel = nullptr;  // the page's Cancel (may be null)
    DisplayUnitCallbacks callbacks;
    std::span<const uint8_t, kDisplayUnitImageSize> image = DisplayUnitImage();
    CProgrammingLink::DeviceFactory deviceFactory;  // empty: the platform's devices
    // What the system tells of the port (empty: sysfs) and the bit-bang port of an adapter
    // (empty: libftdi's), so tests can put the simulator's adapter in their place.
    std::function<PortDetails(const std::string& portName)> describePort;
    std::function<std::unique_ptr<IBitBangPort>()> bitBangPort;
    VdkWaits waits;
};

struct DisplayUnitRunOutcome {
    bool success = false;
    // The page's result text; empty when the port did not open.
    std::string resultText;
    // The last status set: the one text a front end shows for the outcome.
    std::string message;
    uint64_t lineOperations = 0;
    bool bitBang = false;   // the lines went through the adapter's bit-bang mode
    uint64_t pinStates = 0; // pin states written then: the bytes on the USB bus
};

// The whole VDK-1 load, on the calling thread, for the Program page and kestrum-cli:
// opens the programming link (through the bit-bang mode of an FTDI adapter where it can,
// unless request.lines says otherwise; a status line says why when a USB adapter's
// control lines are used instead), programs and verifies, reports through the callbacks,
// and closes the link (the port's earlier settings put back, or the adapter given back to
// its driver) on every path.
DisplayUnitRunOutcome RunDisplayUnitLoad(const DisplayUnitRunRequest& request);

}  // namespace kestrum
