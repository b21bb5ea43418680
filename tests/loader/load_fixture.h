#pragma once

#include <gtest/gtest.h>

#include "unique_test_dir.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "loader/c_load_run.h"
#include "platform/message_pump.h"
#include "sim/image_layout.h"
#include "sim/receiver_model.h"
#include "sim/sim_port_registry.h"

namespace kestrum::test {

// The texts set on a channel during a run: the pump hook sees every post, on the poster's
// thread. When can act on the device the moment a text shows, as a hand on the cable would.
class LastTexts {
public:
    explicit LastTexts(CStatusChannel& channel)
    {
        MessagePump::InstallPumpHook([this, &channel] {
            std::function<void()> action;
            {
                std::lock_guard lock(mutex_);
                const std::string text = channel.Text();
                if (texts_.empty() || texts_.back() != text)
                    texts_.push_back(text);
                if (text == actionText_)
                    action.swap(action_);
            }
            if (action)
                action();
        });
    }
    void When(const std::string& text, std::function<void()> action)
    {
        std::lock_guard lock(mutex_);
        actionText_ = text;
        action_ = std::move(action);
    }
    ~LastTexts() { MessagePump::InstallPumpHook(nullptr); }
    bool Saw(const std::string& text)
    {
        std::lock_guard lock(mutex_);
        return std::find(texts_.begin(), texts_.end(), text) != texts_.end();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> texts_;
    std::string actionText_;
    std::function<void()> action_;  // runs once
};

// A simulated receiver under a port name of its own, images in a temporary folder, and
// waits short enough for a fast suite.
class LoadFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = kestrum::test::MakeUniqueTestDir("kestrum-load");
        ASSERT_FALSE(dir_.empty());
        portName_ = "sim:load-" + std::to_string(++counter_);
        portTiming_.stopPollMs = 20;
        portTiming_.rateSettleMs = 5;
    }

    void TearDown() override
    {
        UnregisterSimPort(portName_);
        std::filesystem::remove_all(dir_);
    }

    void StartReceiver(ReceiverConfig config = {}, bool paced = false)
    {
        model_ = std::make_shared<ReceiverModel>(config);
        RegisterSimBackend();
        SimSerialDevice::Options options;
        options.paced = paced;
        RegisterSimPort(portName_, model_, options);
    }

    std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::string RamFile(RamImageSpec wanted = {}) { return WriteFile("ram.ldr", BuildRamImage(wanted)); }
    std::string FlashFile(FlashImageSpec wanted) { return WriteFile("main.ldp", BuildFlashImage(wanted)); }

    std::shared_ptr<LoadRequest> Request(int method, const std::string& ram, const std::string& flash)
    {
        auto request = std::make_shared<LoadRequest>();
        request->portName = portName_;
        request->captureMethod = method;
        if (!ram.empty())
            request->ramPath = ram;
        if (!flash.empty())
            request->flashPath = flash;
        request->checkRam = true;
        request->checkFlash = true;
        request->statusLink = status_.Number();
        request->timing.replyTimeoutMs = 3000;
        request->timing.captureLimitMs = 6000;
        request->progress = [this] { ++progressSteps_; };
        return request;
    }

    int Run(LoadRequest& request) { return CLoadRun(request, portTiming_).Run(); }

    static inline int counter_ = 0;
    std::string dir_;
    std::string portName_;
    SerialPortTiming portTiming_;
    std::shared_ptr<ReceiverModel> model_;
    CStatusChannel status_;
    int progressSteps_ = 0;
};

}  // namespace kestrum::test
