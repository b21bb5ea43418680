#include "platform/serial_device_factory.h"

#include <map>
#include <mutex>

#include "platform/c_wire_trace.h"
#include "platform/local_serial_device.h"
#include "platform/rfc2217_serial_device.h"
#include "platform/tracing_serial_device.h"

namespace kestrum {

namespace {

// A name that is neither a registered backend's nor a local port name of this system: the
// open fails as "not found", so the user sees the usual "Open NAME port failed".
class UnknownSchemeDevice : public ISerialDevice {
public:
    bool Open(const std::string&) override { return false; }
    SerialOpenError OpenError() const override { return SerialOpenError::NotFound; }
    std::string OpenErrorText() const override
    {
        return "not a port name of this system and no transport for this kind of port name";
    }
    bool IsOpen() const override { return false; }
    void Close() override {}
    bool GetSettings(SerialLineSettings&) override { return false; }
    bool ApplySettings(const SerialLineSettings&) override { return false; }
    long Write(const uint8_t*, size_t) override { return -1; }
    long Read(uint8_t*, size_t) override { return -1; }
    int Wait(int, int) override { return kGone; }
    void Release() override {}
    long InputQueued() override { return -1; }
    long OutputQueued() override { return -1; }
    bool Drain(int) override { return false; }
    void DiscardInput() override {}
    void DiscardOutput() override {}
    bool SetDtr(bool) override { return false; }
    bool SetRts(bool) override { return false; }
    bool SetBreak(bool) override { return false; }
    bool GetModemStatus(bool&, bool&) override { return false; }
    bool ErrorCounts(SerialErrorCounts&) override { return false; }
};

std::mutex registryMutex;

std::map<std::string, SerialDeviceMaker>& Registry()
{
    static std::map<std::string, SerialDeviceMaker> makers;
    return makers;
}

} // namespace

void RegisterSerialBackend(const std::string& prefix, SerialDeviceMaker maker)
{
    std::lock_guard lock(registryMutex);
    Registry()[prefix] = std::move(maker);
}

bool HasRegisteredBackend(const std::string& name)
{
    std::lock_guard lock(registryMutex);
    for (const auto& entry : Registry()) {
        if (name.starts_with(entry.first))
            return true;
    }
    return false;
}

void UnregisterSerialBackend(const std::string& prefix)
{
    std::lock_guard lock(registryMutex);
    Registry().erase(prefix);
}

namespace {

// The network serial-port client is built in, so every program reaches "rfc2217://"
// names without registering anything; a registered backend for the prefix still wins.
std::unique_ptr<ISerialDevice> MakeSerialDevice(const std::string& name)
{
    SerialDeviceMaker maker;
    {
        std::lock_guard lock(registryMutex);
        size_t matched = 0;
        for (const auto& [prefix, candidate] : Registry())
            if (name.starts_with(prefix) && prefix.size() >= matched) {
                matched = prefix.size();
                maker = candidate;
            }
    }
    if (maker)
        if (std::unique_ptr<ISerialDevice> device = maker())
            return device;
    if (name.starts_with(Rfc2217SerialDevice::kPrefix))
        return std::make_unique<Rfc2217SerialDevice>();
    if (std::unique_ptr<ISerialDevice> device = CreateLocalSerialDevice(name))
        return device;
    return std::make_unique<UnknownSchemeDevice>();
}

} // namespace

std::unique_ptr<ISerialDevice> CreateSerialDevice(const std::string& name)
{
    std::unique_ptr<ISerialDevice> device = MakeSerialDevice(name);
    if (std::shared_ptr<CWireTrace> trace = CWireTrace::Active())
        return std::make_unique<TracingSerialDevice>(std::move(device), std::move(trace));
    return device;
}

} // namespace kestrum
