#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/c_wire_trace.h"
#include "platform/serial_device.h"

namespace kestrum {

// A serial device that writes what passes through it into a wire trace and otherwise
// leaves everything to the device it wraps: the bytes each way, the line settings, the
// control lines the program sets and those it reads that changed, purges, line errors,
// the driver's answer to the low-latency request and the device's end.
class TracingSerialDevice : public ISerialDevice {
public:
    TracingSerialDevice(std::unique_ptr<ISerialDevice> device, std::shared_ptr<CWireTrace> trace);

    bool Open(const std::string& name) override;
    SerialOpenError OpenError() const override { return device_->OpenError(); }
    std::string OpenErrorText() const override { return device_->OpenErrorText(); }
    bool IsOpen() const override { return device_->IsOpen(); }
    void Close() override;
    LowLatencyMode LowLatency() const override { return device_->LowLatency(); }
    void SetCancelCheck(std::function<bool()> cancelled) override
    {
        device_->SetCancelCheck(std::move(cancelled));
    }

    bool GetSettings(SerialLineSettings& settings) override { return device_->GetSettings(settings); }
    bool ApplySettings(const SerialLineSettings& settings) override;

    long Write(const uint8_t* data, size_t count) override;
    long Read(uint8_t* data, size_t room) override;
    int Wait(int request, int timeoutMs) override;
    void Release() override { device_->Release(); }

    long InputQueued() override { return device_->InputQueued(); }
    long OutputQueued() override { return device_->OutputQueued(); }
    bool Drain(int timeoutMs) override { return device_->Drain(timeoutMs); }
    void DiscardInput() override;
    void DiscardOutput() override;

    bool SetDtr(bool on) override { return SetLine("DTR", on, device_->SetDtr(on)); }
    bool SetRts(bool on) override { return SetLine("RTS", on, device_->SetRts(on)); }
    bool SetBreak(bool on) override { return SetLine("break", on, device_->SetBreak(on)); }
    bool GetModemStatus(bool& dsr, bool& cts) override;
    // The wrapped device runs the batch its own way (a network port in one round trip);
    // the trace then shows its steps as if they had been made one by one.
    LineBatchResult RunLineBatch(const SerialLineBatch& batch, const std::function<bool()>& stopped) override;
    bool ErrorCounts(SerialErrorCounts& counts) override;

private:
    void Note(const std::string& text);
    bool SetLine(const char* line, bool on, bool done);
    void NoteModem(bool dsr, bool cts);
    void NoteBatch(const SerialLineBatch& batch, const LineBatchResult& result);
    long Moved(CWireTrace::Kind kind, const uint8_t* data, long count);
    void NoteGone();

    const std::unique_ptr<ISerialDevice> device_;
    const std::shared_ptr<CWireTrace> trace_;
    std::atomic<int> port_{-1};
    std::atomic<bool> goneNoted_{false};
    int modemSeen_ = -1; // DSR and CTS as bits, -1 before the first look
    std::mutex countsMutex_;
    SerialErrorCounts countsSeen_;
};

} // namespace kestrum
