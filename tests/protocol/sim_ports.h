#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "link/port_settings.h"
#include "platform/c_event.h"
#include "platform/message_pump.h"
#include "sim/sim_port_registry.h"

namespace kestrum::test {

// A simulated device under a port name for the length of one test.
class ScopedSimPort {
public:
    explicit ScopedSimPort(const std::string& name, std::shared_ptr<DeviceModel> model,
                           SimSerialDevice::Options options = {})
        : name_(name)
    {
        RegisterSimBackend();
        RegisterSimPort(name_, std::move(model), options);
    }
    ~ScopedSimPort() { UnregisterSimPort(name_); }
    ScopedSimPort(const ScopedSimPort&) = delete;
    ScopedSimPort& operator=(const ScopedSimPort&) = delete;

    PortSettings Settings(int speed = 115200, int handshaking = 0) const
    {
        PortSettings settings;
        settings.port = name_;
        settings.speed = speed;
        settings.handshaking = handshaking;
        return settings;
    }

private:
    std::string name_;
};

// Plays the user pressing Cancel: the first time the waiting code dispatches messages
// after predicate holds, the event is signalled.
class CancelWhen {
public:
    template <typename Predicate>
    CancelWhen(CEvent& cancel, Predicate predicate)
    {
        MessagePump::InstallPumpHook([&cancel, predicate, done = std::make_shared<std::atomic<bool>>(false)] {
            if (!*done && predicate()) {
                *done = true;
                cancel.Set();
            }
        });
    }
    ~CancelWhen() { MessagePump::InstallPumpHook({}); }
    CancelWhen(const CancelWhen&) = delete;
    CancelWhen& operator=(const CancelWhen&) = delete;
};

}  // namespace kestrum::test
