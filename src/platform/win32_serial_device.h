#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_device.h"

namespace kestrum {

// A COM port driven through the Win32 communications API: opened by name without
// sharing and overlapped, so every wait (a received byte, a line error, a write's end)
// can be ended by Release from another thread, as a stop or Ctrl-C needs.
//
// Reads return at once with what has arrived (read interval MAXDWORD, no totals). A
// write hands its bytes to one overlapped WriteFile and returns; the next write waits
// for that one to end (Wait with kWritable), so Write never blocks. The line's error
// flags (ClearCommError) are added up into counters, which every status read feeds.
class Win32SerialDevice : public ISerialDevice {
public:
    // COMn (any case) and \\.\NAME; the device opened for COMn is \\.\COMn, which also
    // reaches COM10 and above.
    static bool IsPortName(const std::string& name);
    // The device path CreateFile takes: \\.\COM3 for COM3; \\.\NAME as it stands.
    static std::string DevicePath(const std::string& name);

    Win32SerialDevice();
    ~Win32SerialDevice() override;
    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    bool Open(const std::string& name) override;
    SerialOpenError OpenError() const override { return openError_; }
    std::string OpenErrorText() const override { return openErrorText_; }
    bool IsOpen() const override;
    void Close() override;

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
    struct Overlapped; // an OVERLAPPED with its own manual-reset event

    bool FailOpen(unsigned long error);
    bool PrepareLine();
    bool ReadStatus(unsigned long& inQueue, unsigned long& outQueue);
    void AddErrors(unsigned long flags);
    bool CountersMovedLocked() const;
    bool WriteFinished(int waitMs);
    int ArmCommEvent();
    int HarvestCommEvent();
    int Conditions(int request);
    bool Escape(unsigned long function);
    void MarkGoneOn(unsigned long error);
    unsigned long UnsentOutputPurge(); // writeMutex_ held
    void KeepUntilEnded(std::unique_ptr<Overlapped>& done, std::vector<uint8_t>* buffer);

    void* handle_;          // the port; INVALID_HANDLE_VALUE when closed
    void* releaseEvent_;    // auto-reset: Release
    std::unique_ptr<Overlapped> readDone_;
    std::unique_ptr<Overlapped> writeDone_;
    std::unique_ptr<Overlapped> commEventDone_;
    std::string name_;
    SerialOpenError openError_ = SerialOpenError::None;
    std::string openErrorText_;
    std::atomic<bool> gone_{false};
    std::atomic<uint32_t> baudRate_{115200};

    // The levels the program set, so a settings change (SetCommState) keeps them.
    std::atomic<bool> dtrOn_{false};
    std::atomic<bool> rtsOn_{false};

    std::mutex readMutex_;                // one read at a time
    std::mutex writeMutex_;               // the write in flight
    std::vector<uint8_t> writing_;        // its bytes, which the driver holds until it ends
    bool writePending_ = false;

    std::mutex commMutex_;                // the pending WaitCommEvent and its mask
    unsigned long commMask_ = 0;
    bool commArmed_ = false;

    mutable std::mutex countsMutex_;
    SerialErrorCounts counts_;            // added up from ClearCommError's flags
    SerialErrorCounts seenCounts_;        // as ErrorCounts last returned them
};

} // namespace kestrum
