#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/serial_device.h"

namespace kestrum {

// A serial device that hands every operation to another one, for wrappers that watch or
// change a few of them (a test cable that records line calls, a bench port that notes the
// time of every read and write). Inner is the wrapped device's type.
template <typename Inner = ISerialDevice> class ForwardingSerialDevice : public ISerialDevice {
public:
    explicit ForwardingSerialDevice(std::unique_ptr<Inner> inner) : inner_(std::move(inner)) {}

    bool Open(const std::string& name) override { return inner_->Open(name); }
    SerialOpenError OpenError() const override { return inner_->OpenError(); }
    std::string OpenErrorText() const override { return inner_->OpenErrorText(); }
    bool IsOpen() const override { return inner_->IsOpen(); }
    void Close() override { inner_->Close(); }
    LowLatencyMode LowLatency() const override { return inner_->LowLatency(); }
    void SetCancelCheck(std::function<bool()> cancelled) override
    {
        inner_->SetCancelCheck(std::move(cancelled));
    }
    bool GetSettings(SerialLineSettings& settings) override { return inner_->GetSettings(settings); }
    bool ApplySettings(const SerialLineSettings& settings) override
    {
        return inner_->ApplySettings(settings);
    }
    long Write(const uint8_t* data, size_t count) override { return inner_->Write(data, count); }
    long Read(uint8_t* data, size_t room) override { return inner_->Read(data, room); }
    int Wait(int request, int timeoutMs) override { return inner_->Wait(request, timeoutMs); }
    void Release() override { inner_->Release(); }
    long InputQueued() override { return inner_->InputQueued(); }
    long OutputQueued() override { return inner_->OutputQueued(); }
    bool Drain(int timeoutMs) override { return inner_->Drain(timeoutMs); }
    void DiscardInput() override { inner_->DiscardInput(); }
    void DiscardOutput() override { inner_->DiscardOutput(); }
    bool SetDtr(bool on) override { return inner_->SetDtr(on); }
    bool SetRts(bool on) override { return inner_->SetRts(on); }
    bool SetBreak(bool on) override { return inner_->SetBreak(on); }
    bool GetModemStatus(bool& dsr, bool& cts) override { return inner_->GetModemStatus(dsr, cts); }
    // A wrapper that watches the single line calls overrides this to run a batch through them.
    LineBatchResult RunLineBatch(const SerialLineBatch& batch, const std::function<bool()>& stopped) override
    {
        return inner_->RunLineBatch(batch, stopped);
    }
    bool ErrorCounts(SerialErrorCounts& counts) override { return inner_->ErrorCounts(counts); }

protected:
    std::unique_ptr<Inner> inner_;
};

} // namespace kestrum
