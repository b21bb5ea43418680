#pragma once

#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "link/c_status_channel.h"
#include "link/port_settings.h"
#include "platform/c_event.h"
#include "platform/message_pump.h"
#include "protocol/protocol_timing.h"
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

// Shorter pauses and reply time-outs, so a whole rate search takes seconds; the order of
// the steps does not change.
inline ProtocolTiming QuickTiming()
{
    ProtocolTiming timing;
    timing.settlePauseMs = 30;
    timing.exchangePauseMs = 30;
    timing.replyTimeoutCapMs = 150;
    return timing;
}

// The PC's bytes leave at once, so the slow rates of a full pass cost no line time.
inline SimSerialDevice::Options Unpaced()
{
    SimSerialDevice::Options options;
    options.paced = false;
    return options;
}

// Watches a query as the user at the screen would: every status text that reaches its
// channel (texts are picked up each time the waiting code dispatches messages, which it
// does after every post), and optionally a press on Cancel once a given text has shown.
class StatusRecorder {
public:
    StatusRecorder()
    {
        MessagePump::InstallPumpHook([this] { Look(); });
    }
    ~StatusRecorder() { MessagePump::InstallPumpHook({}); }
    StatusRecorder(const StatusRecorder&) = delete;
    StatusRecorder& operator=(const StatusRecorder&) = delete;

    int32_t Number() const { return channel_.Number(); }
    void CancelOn(const std::string& text, CEvent& cancel)
    {
        std::lock_guard lock(mutex_);
        cancelText_ = text;
        cancel_ = &cancel;
    }
    std::vector<std::string> Texts() const
    {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    std::vector<std::string> TextsStartingWith(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& text : Texts())
            if (text.starts_with(prefix))
                found.push_back(text);
        return found;
    }

private:
    // Posts from a receive worker may dispatch on its thread too.
    void Look()
    {
        std::lock_guard lock(mutex_);
        if (!channel_.Event().Test())
            return;
        texts_.push_back(channel_.Text());
        if (cancel_ != nullptr && texts_.back() == cancelText_) {
            cancel_->Set();
            cancel_ = nullptr;
        }
    }

    mutable std::mutex mutex_;
    CStatusChannel channel_;
    std::vector<std::string> texts_;
    std::string cancelText_;
    CEvent* cancel_ = nullptr;
};

}  // namespace kestrum::test
