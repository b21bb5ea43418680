#pragma once

#include <optional>
#include <string>

#include "link/port_settings.h"
#include "platform/c_event.h"
#include "protocol/c_receiver_link.h"
#include "protocol/device_info.h"

namespace kestrum {

// Exit statuses of a checked load beside the loader's result codes 0..9.
inline constexpr int kCheckNoAnswer = 10;      // the device did not answer after the load
inline constexpr int kCheckWrongFirmware = 11; // it answered with another firmware than expected

// What the user asked of the device around its load: to be asked after it (check), to
// report a given firmware after it (expectFirmware, which implies the check) and, unless
// forced, to be left alone when it reports that firmware already.
struct LoadCheck {
    bool check = false;
    std::optional<std::string> expectFirmware;
    bool force = false;
    bool record = false; // a production record is kept: the device is asked before and after

    bool AskBefore() const { return record || (expectFirmware && !force); }
    bool AskAfter() const { return record || check || expectFirmware; }
    bool Judges() const { return check || expectFirmware; }
};

// The device already reports the expected firmware, and the load is not forced.
bool AlreadyCurrent(const LoadCheck& check, const std::optional<DeviceInfo>& before);
// "Already current: the device reports firmware 3.4.1"
std::string AlreadyCurrentText(const DeviceInfo& before);

// The verdict on the device after a completed load: 0, kCheckNoAnswer or
// kCheckWrongFirmware, with the text to show ("the device now reports firmware ...").
int CheckAfterLoad(const LoadCheck& check, const std::optional<DeviceInfo>& after, std::string& text);

// A device restarts into its new firmware after the load, and its boot loader listens for
// the capture stream first; a question sent meanwhile is lost, or worse, taken for it.
inline constexpr int kRestartSettleMs = 2000;

// Asks the device what it runs, as "Get from Device" does, with the query's own tries and
// time-outs; none when it could not be reached. Status texts go to statusChannel (-1: none),
// cancel stops it; cancelled (when given) tells whether it did.
std::optional<DeviceInfo> AskDevice(DeviceKind kind, const PortSettings& settings, int32_t statusChannel,
                                    const LinkSettings& link, CEvent* cancel, bool* cancelled = nullptr);
// The same after a load: first the restart's pause, which cancel ends (none then).
std::optional<DeviceInfo> AskDeviceAfterLoad(DeviceKind kind, const PortSettings& settings, int32_t statusChannel,
                                             const LinkSettings& link, CEvent* cancel,
                                             int settleMs = kRestartSettleMs);

}  // namespace kestrum
