#include "link/c_status_channel.h"
#include "loader/c_load_run.h"
#include "sim/receiver_model.h"
#include "sim/sim_command_line.h"
#include "sim/sim_port_registry.h"

#include "demo_image_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

using namespace kestrum;

// The real loader over the real port code, through the in-process device, on a paced line:
// a hardware-reset capture (a DTR pulse) of a receiver whose command rate is not the load's,
// the demo images of kestrum-sim, and the new firmware's version afterwards.
TEST(EndToEnd, HardwareResetLoadOfTheDemoImagesOnAPacedLine)
{
    const test::DemoImageDir images("kestrum-sim-e2e", "5.5 e2e", "3000", "1500");
    ASSERT_TRUE(images.Ok()) << images.Error();

    ReceiverConfig config;
    config.commands.rate = 9600;  // soft break at the load's rate could not reach it
    auto receiver = std::make_shared<ReceiverModel>(config);
    RegisterSimBackend();
    RegisterSimPort("sim:e2e", receiver, {.paced = true});

    CStatusChannel status;
    LoadRequest request;
    request.portName = "sim:e2e";
    request.baudRate = 57600;
    request.captureMethod = kHardwareReset;
    request.ramPath = images.RamPath();
    request.flashPath = images.FlashPath();
    request.checkRam = request.checkFlash = true;
    request.statusLink = status.Number();
    request.timing.replyTimeoutMs = 5000;
    request.timing.captureLimitMs = 8000;

    EXPECT_EQ(CLoadRun(request).Run(), 0);
    EXPECT_EQ(receiver->LoadsCompleted(), 1);
    EXPECT_EQ(receiver->FirmwareVersion(), "5.5 e2e");
    EXPECT_EQ(receiver->LastError(), "");
    UnregisterSimPort("sim:e2e");
}
