#include "protocol/c_device_info_query.h"
#include "sim/receiver_model.h"
#include "sim_ports.h"
#include "platform/chattering_server.h"
#include "platform/message_pump.h"
#include "platform/serial_device_factory.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

using namespace kestrum;
using namespace kestrum::test;
using kestrum::test::ChatteringServer;

namespace {

std::shared_ptr<ReceiverModel> Receiver(const ReceiverConfig& config = {})
{
    return std::make_shared<ReceiverModel>(config);
}

}  // namespace

TEST(ReceiverInfo, FiveValuesInTheirLinesAndReady)
{
    ScopedSimPort sim("sim:info-rx", Receiver());
    CDeviceInfoQuery query({}, QuickTiming());
    std::vector<std::string> shown;
    query.SetTextListener([&](const std::string& text) { shown.push_back(text); });
    EXPECT_EQ(query.Run(DeviceKind::Receiver, sim.Settings()), QueryOutcome::Completed);
    const DeviceInfo& info = query.Info();
    EXPECT_EQ(info.text, "Model:\t\tRX-24 GNSS\r\nID:\t\t24A0031F\r\nFirmware:\t\t2.4 Mar,14,2026\r\n"
                         "Hardware:\t\t3\r\nRAM Size, KB:\t4096");
    EXPECT_EQ(query.StatusChannel().Text(), "Ready ");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Model:\r\nID:\r\nFirmware:\r\nHardware:\r\nRAM Size, KB:");
}

TEST(ReceiverInfo, PartlyAnsweringReceiverStillGivesFiveLinesWithLeadingBlanksTrimmed)
{
    ReceiverConfig config;
    config.commands.answers["print,/par/rcv/model"] = "  RX-24  ";
    config.commands.unanswered.insert("print,/par/rcvid");
    config.commands.refused.insert("print,/par/rcv/mem");
    ScopedSimPort sim("sim:info-partial", Receiver(config));
    CDeviceInfoQuery query({}, QuickTiming());
    query.Info().ramSize = "old";
    EXPECT_EQ(query.Run(DeviceKind::Receiver, sim.Settings()), QueryOutcome::Completed);
    EXPECT_EQ(query.Info().model, "RX-24  ");
    EXPECT_EQ(query.Info().text, "Model:\t\tRX-24  \r\nID:\t\t\r\nFirmware:\t\t2.4 Mar,14,2026\r\n"
                                 "Hardware:\t\t3\r\nRAM Size, KB:\t");
}

TEST(PowerBoardInfo, ClearsReceiverValuesOnlyOnceConnected)
{
    CDeviceInfoQuery query({}, QuickTiming());
    query.Info().model = "RX";
    query.Info().firmware = "old";
    {
        ScopedSimPort sim("sim:info-pb-cancel", Receiver());
        StatusRecorder user;
        query.StatusChannel().LinkTo(user.Number());
        user.CancelOn("Try 115200", query.CancelEvent());
        EXPECT_EQ(query.Run(DeviceKind::PowerBoard, sim.Settings()), QueryOutcome::NotConnected);
        EXPECT_EQ(query.ConnectResult(), kConnectCancelled);
        EXPECT_EQ(query.Info().model, "RX");
        EXPECT_EQ(query.Info().firmware, "old");
        EXPECT_EQ(query.Info().text, "Firmware:\r\nHardware:\r\n");
    }
    ScopedSimPort sim("sim:info-pb", Receiver());
    EXPECT_EQ(query.Run(DeviceKind::PowerBoard, sim.Settings()), QueryOutcome::Completed);
    EXPECT_EQ(query.Info().model, "");
    EXPECT_EQ(query.Info().text, "Firmware:\t\t1.7 Jan,20,2026\r\nHardware:\t\t2\r\n");
}

TEST(ReceiverInfo, SecondRunWhileOneIsRunningDoesNothing)
{
    ScopedSimPort sim("sim:info-busy", Receiver());
    CDeviceInfoQuery query({}, QuickTiming());
    std::vector<QueryOutcome> nested;
    MessagePump::InstallPumpHook([&] {
        if (nested.empty())
            nested.push_back(query.Run(DeviceKind::DisplayUnit, sim.Settings()));
    });
    EXPECT_EQ(query.Run(DeviceKind::Receiver, sim.Settings()), QueryOutcome::Completed);
    MessagePump::InstallPumpHook({});
    EXPECT_EQ(nested, std::vector<QueryOutcome>{QueryOutcome::Busy});
    EXPECT_FALSE(query.Busy());
}

TEST(ReceiverInfo, CancelAfterConnectingEndsTheQuestions)
{
    ScopedSimPort sim("sim:info-cancel", Receiver());
    CDeviceInfoQuery query;  // full reply time-outs: the questions must not run them out
    StatusRecorder user;
    query.StatusChannel().LinkTo(user.Number());
    user.CancelOn("Receiver connected", query.CancelEvent());
    EXPECT_EQ(query.Run(DeviceKind::Receiver, sim.Settings()), QueryOutcome::Cancelled);
    EXPECT_EQ(query.Info().model, "");
}

TEST(RunDeviceInfoQuery, GivesTheInformationTextAndForwardsStatus)
{
    ScopedSimPort sim("sim:info-cli", Receiver());
    CStatusChannel console;
    const DeviceInfoResult result =
        RunDeviceInfoQuery(DeviceKind::PowerBoard, sim.Settings(), console.Number(), {}, nullptr, QuickTiming());
    EXPECT_EQ(result.outcome, QueryOutcome::Completed);
    EXPECT_EQ(result.info.firmware, "1.7 Jan,20,2026");
    EXPECT_EQ(result.lastStatus, "Ready ");
    EXPECT_EQ(console.Text(), "Ready ");
}

// A port that does not open says why in the system's words before the fixed text.
TEST(DeviceInfoOpen, SystemReasonComesBeforeTheFixedText)
{
    CDeviceInfoQuery query({}, QuickTiming());
    std::vector<std::string> texts;
    MessagePump::InstallPumpHook([&] {
        if (texts.empty() || texts.back() != query.StatusChannel().Text())
            texts.push_back(query.StatusChannel().Text());
    });
    PortSettings settings;
    settings.port = "/dev/null";
    EXPECT_EQ(query.Run(DeviceKind::Receiver, settings), QueryOutcome::PortNotOpened);
    MessagePump::InstallPumpHook(nullptr);
    const auto fixed = std::find(texts.begin(), texts.end(), "Open /dev/null port failed");
    ASSERT_NE(fixed, texts.end());
    ASSERT_NE(fixed, texts.begin());
    auto device = CreateSerialDevice(settings.port);  // the system's own reason for it
    ASSERT_FALSE(device->Open(settings.port));
    EXPECT_EQ(*(fixed - 1), device->OpenErrorText());
}

// A network port that takes its time to open: the query's Cancel ends the open at once.
TEST(DeviceInfoOpen, CancelWhileANetworkPortOpensEndsTheQueryAsCancelled)
{
    ChatteringServer server(ChatteringServer::Goes::ComPortControl);
    CEvent cancel(CEvent::ResetMode::Auto);
    CDeviceInfoQuery query({}, QuickTiming(), &cancel);
    PortSettings settings;
    settings.port = server.Url();
    std::thread canceller([&] {
        server.AwaitConnection();
        cancel.Set();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(query.Run(DeviceKind::Receiver, settings), QueryOutcome::Cancelled);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "not the 5 s negotiation bound";
}
