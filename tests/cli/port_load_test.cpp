// Loads on several ports inside one kestrum-cli process, against in-process simulated
// receivers: each port keeps its own result, texts and device, and a stop ends a load under
// way as aborted without touching the device's firmware.
#include "cli/c_port_load.h"
#include "cli/cli_commands.h"

#include "app/c_settings_file.h"
#include "app/temp_dir.h"
#include "cli/caught_output.h"
#include "loader/load_request.h"
#include "loader/load_result.h"
#include "sim/image_layout.h"
#include "sim/receiver_model.h"
#include "sim/sim_port_registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace kestrum;

namespace {

std::string WriteImage(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// A receiver under a "sim:" port name of its own for the length of a test.
class SimulatedReceiver {
public:
    SimulatedReceiver(const std::string& name, const ReceiverConfig& config, bool paced)
        : name_("sim:port-load-" + name), model_(std::make_shared<ReceiverModel>(config))
    {
        RegisterSimBackend();
        SimSerialDevice::Options options;
        options.paced = paced;
        RegisterSimPort(name_, model_, options);
    }
    ~SimulatedReceiver() { UnregisterSimPort(name_); }
    SimulatedReceiver(const SimulatedReceiver&) = delete;
    SimulatedReceiver& operator=(const SimulatedReceiver&) = delete;

    const std::string& Port() const { return name_; }
    std::string Firmware() { return model_->FirmwareVersion(); }

private:
    std::string name_;
    std::shared_ptr<ReceiverModel> model_;
};

// A hardware-reset load of a small RAM image and a Flash image of payload bytes.
CliConfig LoadConfig(const TempDir& dir, size_t flashPayload)
{
    CliConfig config;
    config.speed = 115200;
    config.deviceKind = 0;
    config.captureMethod = kHardwareReset;
    config.ramPath = WriteImage(dir / "ram.ldr", BuildRamImage({true, 20, "", 500}));
    config.flashPath = WriteImage(dir / "main.ldp", BuildFlashImage({20, "7.7", flashPayload, true}));
    return config;
}

// One port's load of a 256 KiB Flash image into a paced receiver (its Flash stage takes
// seconds), started, and waited for until its progress reaches percent.
class RunningLoad {
public:
    RunningLoad(const std::string& name, int percent)
        : receiver_(name, ReceiverConfig{}, true), before_(receiver_.Firmware()), config_(Config())
    {
        load_ = std::make_unique<CPortLoad>(config_, receiver_.Port(), defaults_, status_, progress_);
        load_->Start();
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (progress_.Percent() < percent && !load_->Done() && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    CPortLoad& Load() { return *load_; }
    void EndLoad() { load_.reset(); }
    CPortProgress& Progress() { return progress_; }
    const std::string& Port() const { return receiver_.Port(); }
    // The firmware is still what it was before the load.
    bool DeviceUntouched() { return receiver_.Firmware() == before_; }

private:
    CliConfig Config()
    {
        CliConfig config = LoadConfig(dir_, 256u << 10);
        config.portNames = {receiver_.Port()};
        config.portName = receiver_.Port();
        return config;
    }

    TempDir dir_;
    SimulatedReceiver receiver_;
    std::string before_;
    CliConfig config_;
    CSettingsFile defaults_;
    CStatusChannel status_;
    CPortProgress progress_;
    std::unique_ptr<CPortLoad> load_;
};

} // namespace

TEST(PortLoad, OneFailingReceiverLeavesTheOtherLoadAndBothResultsAreItsOwn)
{
    TempDir dir;
    ReceiverConfig refusing;
    refusing.flashFaults.errorFrame = 3;
    refusing.flashWriteMs = 20;
    ReceiverConfig good;
    good.flashWriteMs = 20;
    SimulatedReceiver first("good", good, false);
    SimulatedReceiver second("refusing", refusing, false);
    const std::string before = second.Firmware();

    CliConfig config = LoadConfig(dir, 64u << 10);
    config.portNames = {second.Port(), first.Port()};
    config.portName = config.portNames.front();
    CSettingsFile defaults;
    CaughtOutput out, err;
    const int status = RunLoadCommand(config, defaults, true, out.File(), err.File());

    // The first port named that did not complete gives the exit status.
    EXPECT_EQ(status, LOAD_FLASH_ERROR);
    EXPECT_EQ(first.Firmware(), "7.7");
    EXPECT_EQ(second.Firmware(), before);
    const std::string summary = out.Text();
    EXPECT_NE(summary.find("{\"port\": \"" + second.Port() + "\", \"code\": 7"), std::string::npos)
        << summary;
    EXPECT_NE(summary.find("{\"port\": \"" + first.Port() + "\", \"code\": 0"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\"completed\": 1"), std::string::npos) << summary;
}

TEST(PortLoad, StopDuringTheLoadEndsItAsAbortedAndTheDeviceKeepsItsFirmware)
{
    RunningLoad running("stopped", 20);
    ASSERT_FALSE(running.Load().Done()) << running.Load().Result().text;
    ASSERT_GE(running.Progress().Percent(), 20);
    running.Load().Stop();

    ASSERT_TRUE(running.Load().WaitDone(10000));
    const PortLoadResult result = running.Load().Result();
    EXPECT_EQ(result.code, LOAD_ABORTED);
    EXPECT_EQ(result.port, running.Port());
    EXPECT_EQ(running.Progress().Result(), result.text);
    EXPECT_TRUE(running.DeviceUntouched());
}

TEST(PortLoad, ALoadStillRunningIsStoppedAndWaitedForWhenItsOwnerEnds)
{
    RunningLoad running("abandoned", 10);
    ASSERT_FALSE(running.Load().Done());
    EXPECT_EQ(running.Load().Result().code, LOAD_ABORTED); // a load still running counts as aborted
    running.EndLoad();
    // The destructor has stopped the load and joined its thread, and the device did not take
    // a partial image.
    EXPECT_TRUE(running.DeviceUntouched());
    EXPECT_FALSE(running.Progress().Result().empty());
}
