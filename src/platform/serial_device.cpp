#include "platform/serial_device.h"

#include <chrono>

namespace kestrum {

namespace {

// How often a running batch asks its stop check; the clock is read every few steps only.
constexpr auto kStopLook = std::chrono::milliseconds(20);
constexpr size_t kStepsBetweenClockReads = 32;
// A driver may refuse a line change a moment before it reports the device gone (an
// adapter being unplugged), so a failed step waits this long for that.
constexpr int kGoneCheckMs = 100;

} // namespace

LineBatchResult ISerialDevice::RunLineBatch(const SerialLineBatch& batch,
                                            const std::function<bool()>& stopped)
{
    using Step = SerialLineBatch::Step;
    LineBatchResult result;
    result.reads.reserve(batch.Reads());
    auto lookedAt = std::chrono::steady_clock::now() - kStopLook;
    size_t index = 0;
    for (const Step step : batch.Steps()) {
        if (index++ % kStepsBetweenClockReads == 0 && stopped &&
            std::chrono::steady_clock::now() - lookedAt >= kStopLook) {
            if (stopped()) {
                result.end = LineBatchResult::End::Stopped;
                result.error = "stopped";
                return result;
            }
            lookedAt = std::chrono::steady_clock::now();
        }
        bool done = false;
        switch (step) {
        case Step::DtrOff:
        case Step::DtrOn:
            done = SetDtr(step == Step::DtrOn);
            break;
        case Step::RtsOff:
        case Step::RtsOn:
            done = SetRts(step == Step::RtsOn);
            break;
        case Step::BreakOff:
        case Step::BreakOn:
            done = SetBreak(step == Step::BreakOn);
            break;
        case Step::ReadModem: {
            ModemLines lines;
            done = GetModemStatus(lines.dsr, lines.cts);
            if (done)
                result.reads.push_back(lines);
            break;
        }
        }
        if (!done) {
            const bool gone = (Wait(0, kGoneCheckMs) & kGone) != 0;
            result.end = gone ? LineBatchResult::End::Gone : LineBatchResult::End::Refused;
            result.error = gone                      ? "the device has gone"
                           : step == Step::ReadModem ? "the device did not report its modem lines"
                                                     : "the device refused a line change";
            return result;
        }
    }
    return result;
}

std::string LostConnectionText(ISerialDevice& device, const std::string& portName)
{
    if ((device.Wait(0, 0) & ISerialDevice::kGone) == 0)
        return "";
    const std::string reason = device.OpenErrorText();
    return reason.empty() ? "" : "Lost connection with port " + portName + ": " + reason;
}

} // namespace kestrum
