#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/c_stopwatch.h"
#include "platform/serial_device.h"
#include "sim/vdk1_model.h"
#include "vdk/c_programming_link.h"

namespace kestrum::test {

// The simulated unit has no busy times, so tests skip the fixed waits.
constexpr VdkWaits kNoWaits{0, 0, 0, 0, 0};

// What the test sees of the port the programming link used.
struct CableLog {
    std::vector<SerialLineSettings> settingsAtClose;
    uint64_t redundantLineCalls = 0;  // a line set to the state it already had
    uint64_t modemReads = 0;
    std::optional<bool> dtrAtClose;
    // Line calls (DTR, RTS, break, modem status) made since the cable was pulled,
    // counting the one that found it pulled; and when that was.
    uint64_t callsAfterUnplug = 0;
    std::optional<CStopwatch> sinceUnplug;
};

struct CableFaults {
    int64_t failModemReadsAfter = -1;  // the modem status cannot be read after this many reads
    bool refuseSettings = false;       // the port refuses the programming link's settings
    // Asked before each line call; the first yes pulls the cable (the simulated device
    // disconnects) before that call reaches it.
    std::function<bool(const CableLog& log)> unplugWhen = {};
    // Each line call takes this long, as on an adapter that makes a USB transfer of each.
    std::chrono::microseconds lineCallTime{0};
};

// A serial port as another program left it: not at the programming link's settings.
SerialLineSettings EarlierSettings();
bool SameSettings(const SerialLineSettings& a, const SerialLineSettings& b);

// Puts the model under a fresh "sim:" port name and returns the name.
std::string RegisterUnit(std::shared_ptr<Vdk1Model> model);

// Opens "sim:" ports as real simulated devices, left at EarlierSettings, and watches the
// line operations on the way.
CProgrammingLink::DeviceFactory WatchedFactory(std::shared_ptr<CableLog> log, CableFaults faults = {});

}  // namespace kestrum::test
