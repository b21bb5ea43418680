#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/c_low_latency_request.h"
#include "platform/serial_device.h"

namespace kestrum {

// A serial device file (/dev/ttyUSB0, /dev/pts/3, ...) driven through termios.
// The descriptor is non-blocking; waits use poll() together with an eventfd that any
// thread may signal through Release. Rates are set with termios2, so rates outside the
// classic B-constants (14400, 28800, 153600, ...) work wherever the driver has them.
//
// Once open, it asks the driver for low-latency mode and takes it back at close; flags
// is where it asks (tests pass a driver of their own).
class TermiosSerialDevice : public ISerialDevice {
public:
    explicit TermiosSerialDevice(std::shared_ptr<ISerialFlags> flags = SystemSerialFlags());
    ~TermiosSerialDevice() override;
    TermiosSerialDevice(const TermiosSerialDevice&) = delete;
    TermiosSerialDevice& operator=(const TermiosSerialDevice&) = delete;

    bool Open(const std::string& name) override;
    SerialOpenError OpenError() const override { return openError_; }
    std::string OpenErrorText() const override { return openErrorText_; }
    bool IsOpen() const override { return fd_ >= 0; }
    void Close() override;
    LowLatencyMode LowLatency() const override { return lowLatency_.Mode(); }

    bool GetSettings(SerialLineSettings& settings) override;
    bool ApplySettings(const SerialLineSettings& settings) override;

    long Write(const uint8_t* data, size_t count) override;
    long Read(uint8_t* data, size_t room) override;

    int Wait(int request, int timeoutMs) override;
    void Release() override;

    long InputQueued() override;
    long OutputQueued() override;
    bool Drain(int timeoutMs) override;
    void DiscardInput() override;
    void DiscardOutput() override;

    bool SetDtr(bool on) override;
    bool SetRts(bool on) override;
    bool SetBreak(bool on) override;
    bool GetModemStatus(bool& dsr, bool& cts) override;

    bool ErrorCounts(SerialErrorCounts& counts) override;

private:
    bool FailOpen(SerialOpenError error, int errorNumber);
    bool ClaimExclusive();
    bool MakeRaw();
    bool ReadCounters(SerialErrorCounts& counts) const;
    bool CountersMoved();
    int PollOnce(int request, int timeoutMs);
    bool SetModemLine(int line, bool on);
    long QueueLevel(unsigned long request);
    void MarkGoneOn(int errorNumber);

    int fd_ = -1;
    int releaseFd_ = -1;
    SerialOpenError openError_ = SerialOpenError::None;
    std::string openErrorText_;
    std::atomic<bool> gone_{false};
    std::atomic<uint32_t> baudRate_{115200};
    bool countersAvailable_ = false;
    std::mutex countsMutex_;
    SerialErrorCounts seenCounts_;
    CLowLatencyRequest lowLatency_;
};

} // namespace kestrum
