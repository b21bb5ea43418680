#include "link/c_status_channel.h"
#include "loader/c_load_run.h"
#include "loader/c_load_session.h"
#include "sim/receiver_model.h"
#include "sim/rfc2217_server.h"
#include "sim/sim_command_line.h"
#include "sim/sim_port_registry.h"
#include "sim/vdk1_model.h"
#include "vdk/display_unit_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <vector>

#include <unistd.h>

using namespace kestrum;

namespace {

// The demo images of kestrum-sim in a folder of their own.
class DemoImages {
public:
    DemoImages()
    {
        dir_ = std::filesystem::temp_directory_path() / ("kestrum-rfc2217-" + std::to_string(::getpid()) + "-" +
                                                         std::to_string(++count_));
        std::filesystem::create_directories(dir_);
        SimCommandLine line;
        std::string error;
        EXPECT_TRUE(ParseSimCommandLine({"--write-images", dir_.string(), "--flash-version", "6.1 net", "--flash-size",
                                         "6000", "--ram-size", "1500"},
                                        line, error))
            << error;
        EXPECT_TRUE(WriteDemoImages(line, error)) << error;
    }
    ~DemoImages() { std::filesystem::remove_all(dir_); }

    std::string Ram() const { return (dir_ / "ramimage.ldr").string(); }
    std::string Flash() const { return (dir_ / "main.ldp").string(); }

    static size_t CountOf(const std::string& path, uint8_t value)
    {
        std::ifstream file(path, std::ios::binary);
        return static_cast<size_t>(std::count(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>(),
                                              static_cast<char>(value)));
    }

private:
    static inline int count_ = 0;
    std::filesystem::path dir_;
};

struct ServedReceiver {
    explicit ServedReceiver(bool paced)
    {
        ReceiverConfig config;
        config.commands.rate = 9600;  // only the hardware reset reaches it at the load's rate
        receiver = std::make_shared<ReceiverModel>(config);
        server = std::make_unique<Rfc2217Server>(receiver, Rfc2217Server::Options{.paced = paced});
        std::string error;
        EXPECT_TRUE(server->Open(error)) << error;
        server->Start();
    }

    std::shared_ptr<ReceiverModel> receiver;
    std::unique_ptr<Rfc2217Server> server;
};

void PrepareHardwareResetLoad(LoadRequest& request, const std::string& port, const DemoImages& images,
                              const CStatusChannel& status)
{
    request.portName = port;
    request.baudRate = 57600;
    request.captureMethod = kHardwareReset;
    request.ramPath = images.Ram();
    request.flashPath = images.Flash();
    request.checkRam = request.checkFlash = true;
    request.statusLink = status.Number();
    request.timing.replyTimeoutMs = 3000;
    request.timing.captureLimitMs = 6000;
}

}  // namespace

// The DTR pulse of a hardware reset travels as COM-port commands; image bytes 0xFF travel
// doubled and must arrive single, or the checksums of the load would not match.
TEST(Rfc2217Load, HardwareResetLoadOfAReceiverOverTheNetwork)
{
    DemoImages images;
    ASSERT_GT(DemoImages::CountOf(images.Flash(), 0xFF), 0u) << "the test needs 0xFF bytes in the image";
    ServedReceiver served(false);
    CStatusChannel status;
    LoadRequest request;
    PrepareHardwareResetLoad(request, served.server->Url(), images, status);
    EXPECT_EQ(CLoadRun(request).Run(), 0) << status.Text();
    EXPECT_EQ(served.receiver->LoadsCompleted(), 1);
    EXPECT_EQ(served.receiver->FirmwareVersion(), "6.1 net");
    EXPECT_EQ(served.receiver->LastError(), "");
}

// The server hangs up in the middle of the Flash image: the run ends at once with a
// failure and says so; it does not sit out reply time-outs on a dead connection.
TEST(Rfc2217Load, ServerHangingUpMidLoadEndsTheRunWithItsResult)
{
    DemoImages images;
    ServedReceiver served(false);
    CStatusChannel status;
    LoadRequest request;
    PrepareHardwareResetLoad(request, served.server->Url(), images, status);
    const int dropAt = CLoadSession::ProgressSteps(images.Ram(), images.Flash()) * 2 / 3;
    ASSERT_GT(dropAt, 2);
    int steps = 0;
    request.progress = [&] {
        if (++steps == dropAt)
            served.server->DropClient();
    };
    const auto start = std::chrono::steady_clock::now();
    const int result = CLoadRun(request).Run();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_NE(result, 0);
    EXPECT_GE(steps, dropAt);
    EXPECT_EQ(served.receiver->LoadsCompleted(), 0);
    EXPECT_EQ(status.Text(), "Error in Flash file loading");
    EXPECT_LT(took, std::chrono::seconds(30)) << "the run must not wait for the dead connection";
}

// The whole programming run, every DSR bit read back over the network: seconds of real
// time in any build, so it is one of the slow cases CI runs in one build only.
TEST(Rfc2217LoadSlow, Vdk1ProgramAndVerifyOverTheNetwork)
{
    auto unit = std::make_shared<Vdk1Model>();
    Rfc2217Server server(unit, {.paced = false});
    std::string error;
    ASSERT_TRUE(server.Open(error)) << error;
    server.Start();
    DisplayUnitRunRequest request;
    request.portName = server.Url();
    request.waits = VdkWaits{0, 0, 0, 0, 0};
    const DisplayUnitRunOutcome outcome = RunDisplayUnitLoad(request);
    EXPECT_TRUE(outcome.success) << outcome.message;
    const auto flash = unit->FlashMemory();
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), DisplayUnitImage().begin()));
    EXPECT_GT(server.Counters().roundTrips.load(), 8u * kDisplayUnitImageSize);
}

// The read-back goes out in batches over the network, but a wrong byte is reported just
// as on a port whose every DSR read is answered at once: the first one, with its address
// and values.
TEST(Rfc2217Load, Vdk1WrongByteIsReportedAsOnAnInProcessPort)
{
    std::vector<uint8_t> image(DisplayUnitImage().begin(), DisplayUnitImage().end());
    image[0x2345] = 0x0C; // the unit's stuck cells read 0xFF
    image[0x2346] = 0x0D;
    auto runOn = [&image](auto&& portOf) {
        auto unit = std::make_shared<Vdk1Model>();
        unit->SetStuckCells({0x2345, 0x2346, 0x3000});
        DisplayUnitRunRequest request;
        request.image = std::span<const uint8_t, kDisplayUnitImageSize>(image.data(), kDisplayUnitImageSize);
        request.waits = VdkWaits{0, 0, 0, 0, 0};
        return portOf(unit, [&request](const std::string& port) {
            request.portName = port;
            return RunDisplayUnitLoad(request);
        });
    };
    const DisplayUnitRunOutcome network = runOn([](const auto& unit, const auto& run) {
        Rfc2217Server server(unit, {.paced = false});
        std::string error;
        EXPECT_TRUE(server.Open(error)) << error;
        server.Start();
        return run(server.Url());
    });
    const DisplayUnitRunOutcome inProcess = runOn([](const auto& unit, const auto& run) {
        RegisterSimBackend();
        RegisterSimPort("sim:vdk1-wrong-byte", unit, SimSerialDevice::Options{false});
        const DisplayUnitRunOutcome outcome = run("sim:vdk1-wrong-byte");
        UnregisterSimPort("sim:vdk1-wrong-byte");
        return outcome;
    });
    EXPECT_FALSE(network.success);
    EXPECT_EQ(network.resultText, "Wrong data at address 00002345/ ff instead of 0c\r\n");
    EXPECT_EQ(network.resultText, inProcess.resultText);
    EXPECT_EQ(network.message, inProcess.message);
}

// A pause must hold at the unit (its page write takes 50 ms, during which it ignores
// everything): it may only begin once the unit has had every change before it, however
// slow the network.
TEST(Rfc2217Load, Vdk1PauseBeginsOnlyOnceTheUnitHasHadEveryChange)
{
    auto unit = std::make_shared<Vdk1Model>();
    Rfc2217Server server(unit, {.paced = false, .roundTripDelay = std::chrono::milliseconds(20)});
    std::string error;
    ASSERT_TRUE(server.Open(error)) << error;
    server.Start();
    CProgrammingLink link({}, VdkWaits{0, 0, 0, 0, 0});
    ASSERT_TRUE(link.Open(server.Url())) << link.LastError();
    ASSERT_TRUE(link.ResetPulse());
    ASSERT_TRUE(link.Synchronise());
    for (uint32_t word = 0; word < 128; ++word)
        ASSERT_TRUE(link.SendCommand((0x40u << 24) | (word << 8) | 0x5A));
    ASSERT_TRUE(link.SendCommand(0x4C000000u)); // write page 0
    ASSERT_TRUE(link.Pause(0));
    EXPECT_EQ(unit->PagesWritten(), 1);
}
