#include "platform/serial_device_factory.h"

#include <map>
#include <mutex>

#include "platform/c_wire_trace.h"
#include "platform/rfc2217_serial_device.h"
#include "platform/termios_serial_device.h"
#include "platform/tracing_serial_device.h"

namespace kestrum {

namespace {

// A name that is neither a registered backend's nor a device path: the open fails as
// "not found", so the user sees the usual "Open NAME port failed".
class UnknownSchemeDevice : public TermiosSerialDevice {
public:
    bool Open(const std::string&) override { return false; }
    SerialOpenError OpenError() const override { return SerialOpenError::NotFound; }
    std::string OpenErrorText() const override
    {
        return "not a device path and no transport for this kind of port name";
    }
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
    // Only absolute device paths go to termios: a Windows-style "COM1" must not open
    // whatever file of that name the working directory happens to hold.
    if (!name.starts_with("/"))
        return std::make_unique<UnknownSchemeDevice>();
    return std::make_unique<TermiosSerialDevice>();
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
