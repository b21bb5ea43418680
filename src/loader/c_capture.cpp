#include "loader/c_capture.h"

#include <algorithm>

#include "loader/boot_protocol.h"
#include "platform/c_stopwatch.h"
#include "platform/closing_flag.h"
#include "platform/message_pump.h"

namespace kestrum {

namespace {
constexpr uint32_t kPulseRate = 115200;  // one byte at this rate is the DTR pulse's length
}

CCapture::CCapture(CLoadLine& line, const std::string& resetCommand)
    : line_(line), resetCommand_(resetCommand), fill_(kFillBlockSize, boot::kCaptureFill)
{
}

bool CCapture::Cancelled()
{
    return ClosingFlag::IsSet() || line_.Stopped() || line_.Request().cancel->Test();
}

bool CCapture::Capture(int method, uint32_t baudRate, bool& userAbort)
{
    const LoadTiming& timing = line_.Timing();
    CSerialPort& port = line_.Port();
    const CStopwatch watch;
    port.PurgeInput();
    line_.DropDtr();
    line_.SetStatus("Capturing...");
    if (method == kPowerOnCapture)
        line_.Request().Notify(WM_CAPTURE_PROMPT, 1, timing.capturePromptMs);

    // A block of 0x55 takes this long on the line; a port whose queue level says nothing
    // (a pseudo-terminal, a network port) must not be handed more than the line can carry.
    const uint32_t fillMs = static_cast<uint32_t>(fill_.size() * 10 * 1000 / std::max<uint32_t>(baudRate, 1));
    bool filled = false;
    uint32_t lastFill = 0;
    // The first pass resets at once.
    uint32_t lastReset = watch.Elapsed() - static_cast<uint32_t>(timing.captureResetEveryMs) - 1;
    const uint32_t start = watch.Elapsed();
    do {
        if (Cancelled()) {
            userAbort = true;
            line_.SetStatus("Capturing aborted by User");
            HidePrompt();
            return false;
        }
        if (watch.Elapsed() - lastReset > static_cast<uint32_t>(timing.captureResetEveryMs)) {
            if (method != kPowerOnCapture && !ResetStep(method, baudRate))
                break;
            lastReset = watch.Elapsed();
        }
        // Queue more 0x55 only when the previous block has gone, so at most one waits.
        if ((!filled || watch.Elapsed() - lastFill >= fillMs) && port.WaitQueue(-1, true)) {
            port.WriteTimed(fill_.data(), static_cast<uint32_t>(fill_.size()), 0);
            filled = true;
            lastFill = watch.Elapsed();
        }
        uint8_t byte = 0;
        if (line_.ReadByte(timing.captureReadMs, byte) == CLoadLine::ReadResult::Byte && byte == boot::kRequest) {
            port.PurgeOutput();
            line_.Pause(timing.capturedSettleMs);
            line_.SetStatus("Captured");
            HidePrompt();
            return true;
        }
    } while (!line_.Gone() && watch.Elapsed() - start < static_cast<uint32_t>(timing.captureLimitMs));
    port.PurgeOutput();
    return Fail("Can't capture receiver");
}

bool CCapture::Fail(const char* text)
{
    line_.SetStatus(text);
    HidePrompt();
    return false;
}

void CCapture::HidePrompt()
{
    line_.Request().Notify(WM_CAPTURE_PROMPT, 0, 0);
}

bool CCapture::ResetStep(int method, uint32_t baudRate)
{
    CSerialPort& port = line_.Port();
    line_.DropDtr();
    line_.DropRts();
    if (method == kSoftBreakCapture) {
        const auto* text = reinterpret_cast<const uint8_t*>(resetCommand_.data());
        const auto length = static_cast<uint32_t>(resetCommand_.size());
        if (port.Write(text, length) != length)
            return false;
        if (resetCommand_.find("sleep") != std::string::npos)
            line_.Pause(line_.Timing().sleepVariantMs);
        port.PurgeOutput();
    }
    if (method == kHardwareReset) {
        port.SetBaudRate(kPulseRate);
        HardwareResetPulse();
        line_.DropDtr();
        line_.DropRts();
        port.SetBaudRate(baudRate);
        line_.DropDtr();
        line_.DropRts();
    }
    return true;
}

// DTR stays raised for as long as one byte takes at 115200 baud.
void CCapture::HardwareResetPulse()
{
    CSerialPort& port = line_.Port();
    port.PurgeOutput();
    line_.DropRts();
    line_.DropDtr();
    line_.RaiseDtr();
    const uint8_t zero = 0;
    if (port.WriteTimed(&zero, 1, line_.Timing().replyTimeoutMs) == 1)
        port.WaitQueue(line_.Timing().replyTimeoutMs, true);  // the byte has left: end the pulse
    port.PurgeOutput();
    line_.DropDtr();
    line_.DropRts();
}

}  // namespace kestrum
