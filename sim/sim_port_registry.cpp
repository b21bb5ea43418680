#include "sim/sim_port_registry.h"

#include "platform/serial_device_factory.h"

#include <map>
#include <mutex>

namespace kestrum {

namespace {

struct SimPort {
    std::shared_ptr<DeviceModel> model;
    SimSerialDevice::Options options;
};

std::mutex portsMutex;

std::map<std::string, SimPort>& Ports()
{
    static std::map<std::string, SimPort> ports;
    return ports;
}

// The factory gives the name to Open only, so the device looks its model up there.
class NamedSimDevice : public ISerialDevice {
public:
    bool Open(const std::string& name) override
    {
        device_ = CreateSimSerialDevice(name);
        return device_->Open(name);
    }
    SerialOpenError OpenError() const override { return device_ ? device_->OpenError() : SerialOpenError::NotFound; }
    std::string OpenErrorText() const override { return device_ ? device_->OpenErrorText() : "not opened"; }
    bool IsOpen() const override { return device_ && device_->IsOpen(); }
    void Close() override
    {
        if (device_)
            device_->Close();
    }
    bool GetSettings(SerialLineSettings& s) override { return device_ && device_->GetSettings(s); }
    bool ApplySettings(const SerialLineSettings& s) override { return device_ && device_->ApplySettings(s); }
    long Write(const uint8_t* d, size_t n) override { return device_ ? device_->Write(d, n) : -1; }
    long Read(uint8_t* d, size_t n) override { return device_ ? device_->Read(d, n) : -1; }
    int Wait(int request, int timeoutMs) override { return device_ ? device_->Wait(request, timeoutMs) : kGone; }
    void Release() override
    {
        if (device_)
            device_->Release();
    }
    long InputQueued() override { return device_ ? device_->InputQueued() : -1; }
    long OutputQueued() override { return device_ ? device_->OutputQueued() : -1; }
    bool Drain(int timeoutMs) override { return device_ && device_->Drain(timeoutMs); }
    void DiscardInput() override
    {
        if (device_)
            device_->DiscardInput();
    }
    void DiscardOutput() override
    {
        if (device_)
            device_->DiscardOutput();
    }
    bool SetDtr(bool on) override { return device_ && device_->SetDtr(on); }
    bool SetRts(bool on) override { return device_ && device_->SetRts(on); }
    bool SetBreak(bool on) override { return device_ && device_->SetBreak(on); }
    bool GetModemStatus(bool& dsr, bool& cts) override { return device_ && device_->GetModemStatus(dsr, cts); }
    bool ErrorCounts(SerialErrorCounts& c) override { return device_ && device_->ErrorCounts(c); }

private:
    // Created by Open, before any other thread may use the device.
    std::unique_ptr<SimSerialDevice> device_;
};

}  // namespace

void RegisterSimPort(const std::string& name, std::shared_ptr<DeviceModel> model, SimSerialDevice::Options options)
{
    std::lock_guard lock(portsMutex);
    Ports()[name] = SimPort{std::move(model), options};
}

void UnregisterSimPort(const std::string& name)
{
    std::lock_guard lock(portsMutex);
    Ports().erase(name);
}

std::unique_ptr<SimSerialDevice> CreateSimSerialDevice(const std::string& name)
{
    std::lock_guard lock(portsMutex);
    const auto found = Ports().find(name);
    if (found == Ports().end())
        return std::make_unique<SimSerialDevice>(nullptr);
    return std::make_unique<SimSerialDevice>(found->second.model, found->second.options);
}

void RegisterSimBackend()
{
    RegisterSerialBackend(kSimPortPrefix, [] { return std::make_unique<NamedSimDevice>(); });
}

}  // namespace kestrum
