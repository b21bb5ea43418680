#include "loader/load_check.h"

#include <algorithm>

#include "platform/message_pump.h"
#include "protocol/c_device_info_query.h"

namespace kestrum {

namespace {

// A version compared as the device means it: blanks around it say nothing.
std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool Reports(const DeviceInfo& info, const std::string& firmware)
{
    return Trimmed(info.firmware) == Trimmed(firmware);
}

std::string Shown(const std::string& firmware)
{
    const std::string trimmed = Trimmed(firmware);
    return trimmed.empty() ? "(none)" : trimmed;
}

}  // namespace

bool AlreadyCurrent(const LoadCheck& check, const std::optional<DeviceInfo>& before)
{
    return check.expectFirmware && !check.force && before && Reports(*before, *check.expectFirmware);
}

std::string AlreadyCurrentText(const DeviceInfo& before)
{
    return "Already current: the device reports firmware " + Shown(before.firmware);
}

int CheckAfterLoad(const LoadCheck& check, const std::optional<DeviceInfo>& after, std::string& text)
{
    if (!after) {
        text = "Loading completed, but the device did not answer after it";
        return kCheckNoAnswer;
    }
    text = "Loading completed; the device now reports firmware " + Shown(after->firmware);
    if (check.expectFirmware && !Reports(*after, *check.expectFirmware)) {
        text += ", not " + Shown(*check.expectFirmware);
        return kCheckWrongFirmware;
    }
    return 0;
}

std::optional<DeviceInfo> AskDevice(DeviceKind kind, const PortSettings& settings, int32_t statusChannel,
                                    const LinkSettings& link, CEvent* cancel, bool* cancelled)
{
    const DeviceInfoResult result = RunDeviceInfoQuery(kind, settings, statusChannel, link, cancel);
    if (cancelled != nullptr)
        *cancelled = result.outcome == QueryOutcome::Cancelled ||
                     (result.outcome == QueryOutcome::NotConnected && result.connectResult == kConnectCancelled);
    if (result.outcome != QueryOutcome::Completed)
        return std::nullopt;
    return result.info;
}

std::optional<DeviceInfo> AskDeviceAfterLoad(DeviceKind kind, const PortSettings& settings, int32_t statusChannel,
                                             const LinkSettings& link, CEvent* cancel, int settleMs)
{
    // In steps, dispatching messages between them, so a window stays alive meanwhile.
    constexpr int kStepMs = 50;
    CEvent never(CEvent::ResetMode::Manual);
    CEvent& stop = cancel != nullptr ? *cancel : never;
    for (int waited = 0; waited < settleMs; waited += kStepMs) {
        if (stop.Wait(std::min(kStepMs, settleMs - waited)))
            return std::nullopt;
        MessagePump::DispatchPending();
    }
    return AskDevice(kind, settings, statusChannel, link, cancel);
}

}  // namespace kestrum
