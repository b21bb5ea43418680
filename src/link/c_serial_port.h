#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/c_port.h"
#include "platform/c_stopwatch.h"
#include "platform/serial_device.h"

namespace kestrum {

// Timing of a serial port. The write bound stands for the driver write time-outs the
// port sets at open: a blocking or timed write gives up after
// kWriteTotalMultiplierMs per byte plus kWriteTotalConstantMs.
struct SerialPortTiming {
    int writeTotalMultiplierMs = 200;
    int writeTotalConstantMs = 100;
    int rateSettleMs = 50; // pause after a rate change
    int queuePollMs = 5;   // WaitQueue's polling step
    int waitSliceMs = 50;  // how often a blocking write looks at the abort flag
    int stopPollMs = 200;  // WaitReceiveStopped's polling step
};

// The user's text for a port that did not open: "Open NAME port failed" when there is no
// such port, a text with the cure when permission is missing, else "Port NAME is busy".
std::string OpenFailureText(const std::string& name, SerialOpenError error);

// The port over a serial device chosen by name (device path, or a registered backend
// prefix). A failed open leaves GetHandle null and the reason in LastError.
class CSerialPort : public CPort {
public:
    // An open that waits for a far end (a network port negotiating) gives up as soon as
    // cancelOpen says so; the check is called on this thread every few tens of
    // milliseconds, until the constructor returns, and may dispatch its messages.
    explicit CSerialPort(const std::string& name, const SerialPortTiming& timing = SerialPortTiming{},
                         std::function<bool()> cancelOpen = {});
    ~CSerialPort() override;

    uint32_t WriteTimed(const uint8_t* data, uint32_t count, int timeoutMs) override;
    uint32_t Write(const uint8_t* data, uint32_t count) override;
    uint32_t ReadAvailable(uint8_t* buffer, uint32_t max) override;
    void PurgeInput() override;
    void PurgeOutput() override;
    bool WaitEvent(uint32_t& mask) override;
    ISerialDevice* GetHandle() override { return device_.get(); }
    void WaitReceiveStopped() override;
    void IsOpen(bool& open) override { open = device_ != nullptr; }
    bool SetBaudRate(uint32_t rate) override;
    int SetHandshake(int mode) override;
    int GetHandshake() override;
    bool SetWordLength(int bits) override;
    bool SetParity(int code) override;
    bool SetStopBits(int count) override;
    bool ToggleRts() override;
    bool ToggleDtr() override;
    bool ReadSettings() override;
    int32_t ReservedValue() override { return 0; }
    virtual void PurgeAll();

    // timeoutMs 0: true at once; negative: one look at whether the queue is empty;
    // positive: true as soon as the output queue is empty (output) or a byte has
    // arrived (input), false when the time runs out or the device has gone.
    bool WaitQueue(int timeoutMs, bool output);

    // The system's own words for a failed open ("connection refused by ..."), beside the
    // fixed text in LastError; empty when the open succeeded.
    const std::string& OpenFailureDetail() const { return openFailureDetail_; }
    // What the system tells beyond the fixed text of a failed open (who holds the port,
    // the group that may use it), one line each.
    const std::vector<std::string>& OpenDiagnosis() const { return openDiagnosis_; }
    // Posts why the open failed on channel: the system's reason first, when there is one,
    // then the fixed text, then the diagnosis lines.
    void PostOpenFailure(CStatusChannel& channel) const;
    // Notes on the opened port for the user (a slow adapter setting), one line each.
    const std::vector<std::string>& OpenNotes() const { return openNotes_; }
    // The open failed because cancelOpen said so (LastError is the usual open failure).
    bool OpenCancelled() const { return openCancelled_; }
    // "Lost connection with port NAME: " and the reason, once the device has gone and says
    // why (a network server that stopped answering); empty until then, or without a reason.
    std::string LostConnectionText() const;

    bool RtsState() const { return rtsState_; }
    bool DtrState() const { return dtrState_; }

private:
    bool OpenDevice(const std::string& name);
    bool CancelOpenSeen();
    void DropCancelledOpen(const std::string& name);
    void ReportOpenFailure(const std::string& name, SerialOpenError error);
    void ApplyInitialState();
    void ClearDtrRaiseRts();
    bool ChangeSettings(void (*change)(SerialLineSettings&, int), int value);
    uint32_t ReadErrorFlags();
    uint32_t SendWithin(const uint8_t* data, uint32_t count, int limitMs, const CStopwatch& clock);
    bool WaitOutputDrained(int limitMs, const CStopwatch& clock);
    uint32_t WithdrawUnsent(uint32_t sent);
    int WriteLimitMs(uint32_t count) const;
    bool ToggleLine(bool& state, bool (ISerialDevice::*setLine)(bool));

    const SerialPortTiming timing_;
    std::unique_ptr<ISerialDevice> device_;
    std::string openFailureDetail_;
    std::vector<std::string> openDiagnosis_;
    std::vector<std::string> openNotes_;
    std::function<bool()> cancelOpen_;
    bool openCancelled_ = false;
    bool rtsState_ = true;
    bool dtrState_ = true;
    std::mutex flagsMutex_;
    SerialErrorCounts seenCounts_;
};

} // namespace kestrum
