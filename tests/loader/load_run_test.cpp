#include "load_fixture.h"

#include "loader/c_capture.h"
#include "loader/c_load_line.h"

#include "loader/boot_protocol.h"
#include "loader/c_load_session.h"
#include "loader/load_result.h"
#include "platform/c_stopwatch.h"
#include "platform/message_pump.h"
#include "platform/tick_count.h"

#include <algorithm>
#include <limits>
#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

using namespace kestrum;
using namespace kestrum::test;

namespace {

// Collects stage notifications posted by the worker.
class StageLog {
public:
    StageLog()
    {
        MessagePump::InstallMessageSink([this](int message, intptr_t w, intptr_t l) {
            std::lock_guard lock(mutex_);
            if (message == WM_LOADER_STAGE)
                stages_.emplace_back(static_cast<int>(w), static_cast<int>(l));
            if (message == WM_CAPTURE_PROMPT)
                prompts_.emplace_back(static_cast<int>(w), static_cast<int>(l));
        });
    }
    ~StageLog() { MessagePump::InstallMessageSink(nullptr); }
    std::vector<std::pair<int, int>> Stages()
    {
        std::lock_guard lock(mutex_);
        return stages_;
    }
    std::vector<std::pair<int, int>> Prompts()
    {
        std::lock_guard lock(mutex_);
        return prompts_;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<int, int>> stages_, prompts_;
};

ReceiverConfig PowerOnAfter(int ms)
{
    ReceiverConfig config;
    config.powerCycleAfterMs = ms;
    return config;
}

}  // namespace

class LoadRun : public LoadFixture {};

TEST_F(LoadRun, FullReceiverLoadWithSoftBreakInstallsTheNewFirmware)
{
    StartReceiver();
    StageLog stages;
    LastTexts texts(status_);
    auto request = Request(kSoftBreakCapture, RamFile({true, 20, "", 3000}),
                           FlashFile({20, "3.0 Dec,07,2026", 5000, true}));
    EXPECT_EQ(Run(*request), LOAD_OK);
    EXPECT_EQ(model_->LoadsCompleted(), 1);
    EXPECT_EQ(model_->FirmwareVersion(), "3.0 Dec,07,2026");
    EXPECT_EQ(model_->FlashContents(), BuildFlashImage({20, "3.0 Dec,07,2026", 5000, true}));
    EXPECT_EQ(model_->LastRamImage(), BuildRamImage({true, 20, "", 3000}));
    const std::vector<std::pair<int, int>> expected = {{3, 1}, {4, 1}, {0, 1}, {0, 0}, {1, 1}, {1, 0}};
    EXPECT_EQ(stages.Stages(), expected);
    for (const char* text : {"Capturing...", "Captured", "RAM file loaded", "Flash file loaded", "Loading completed"})
        EXPECT_TRUE(texts.Saw(text)) << text;
    // RAM 3036 bytes: three chunks and the closing step; Flash 5024 bytes: ten pieces and one more.
    EXPECT_EQ(progressSteps_, 4 + 11);
}

TEST_F(LoadRun, PowerBoardTakesItsSingleImageAsTheRamImage)
{
    ReceiverConfig config = PowerOnAfter(300);
    config.loadTarget = LoadTarget::PowerBoard;
    StartReceiver(config);
    StageLog stages;
    auto request = Request(kPowerOnCapture, RamFile({true, 20, "1.9 Nov,30,2026", 2000}), "");
    request->deviceKind = kLoadPowerBoard;
    request->checkFlash = false;
    EXPECT_EQ(Run(*request), LOAD_OK);  // image for 20 fits the board's 22
    EXPECT_EQ(model_->PowerBoardFirmware(), "1.9 Nov,30,2026");
    const std::vector<std::pair<int, int>> prompts = {{1, 15000}, {0, 0}};
    EXPECT_EQ(stages.Prompts(), prompts);
}

TEST_F(LoadRun, RamOnlyEndsAfterTheAcknowledgementWithoutAReset)
{
    StartReceiver(PowerOnAfter(200));
    StageLog stages;
    auto request = Request(kPowerOnCapture, RamFile({true, -1, "", 100}), "");
    EXPECT_EQ(Run(*request), LOAD_OK);
    const std::vector<std::pair<int, int>> expected = {{3, 1}, {0, 1}, {0, 0}};
    EXPECT_EQ(stages.Stages(), expected);
    EXPECT_EQ(model_->LoadsCompleted(), 0) << "no Flash image, so nothing was written";
}

TEST_F(LoadRun, FlashOnlySendsAnEmptyRamStageAndAwaitsTheFinalAcknowledgement)
{
    StartReceiver(PowerOnAfter(200));
    auto request = Request(kPowerOnCapture, "", FlashFile({20, "4.1", 1024, true}));
    EXPECT_EQ(Run(*request), LOAD_OK);
    EXPECT_TRUE(model_->LastRamImage().empty());
    EXPECT_EQ(model_->FirmwareVersion(), "4.1");
}

TEST_F(LoadRun, FlashImageSizesAtAndAroundTheBlockLength)
{
    for (size_t payload : {size_t{0}, size_t{1000 - 24}, size_t{1024 - 24}}) {
        StartReceiver(PowerOnAfter(200));
        const std::vector<uint8_t> image = BuildFlashImage({20, "5." + std::to_string(payload), payload, true});
        auto request = Request(kPowerOnCapture, RamFile({false, 20, "", 50}), WriteFile("f.ldp", image));
        EXPECT_EQ(Run(*request), LOAD_OK) << payload;
        EXPECT_EQ(model_->FlashContents(), image) << payload;
        UnregisterSimPort(portName_);
    }
}

TEST_F(LoadRun, ResentFrameIsAcceptedAndThreeRefusalsFail)
{
    ReceiverConfig config = PowerOnAfter(200);
    config.flashFaults.nakFrame = 1;
    config.flashFaults.nakTimes = 2;
    StartReceiver(config);
    auto request = Request(kPowerOnCapture, RamFile({true, 20, "", 10}), FlashFile({20, "6.0", 2000, true}));
    EXPECT_EQ(Run(*request), LOAD_OK) << "the chained CRC of a resent frame must be unchanged";
    EXPECT_EQ(model_->ResendsRequested(), 2);

    config.flashFaults.nakTimes = 3;
    UnregisterSimPort(portName_);
    StartReceiver(config);
    auto failing = Request(kPowerOnCapture, RamFile({true, 20, "", 10}), FlashFile({20, "6.0", 2000, true}));
    EXPECT_EQ(Run(*failing), LOAD_FLASH_ERROR);
}

TEST_F(LoadRun, ErrorByteEndsTheFlashStageWithSeven)
{
    ReceiverConfig config = PowerOnAfter(200);
    config.flashFaults.errorFrame = 1;
    config.flashFaults.errorByte = 0x25;
    StartReceiver(config);
    LastTexts texts(status_);
    auto request = Request(kPowerOnCapture, RamFile({true, 20, "", 10}), FlashFile({20, "6.0", 3000, true}));
    const CStopwatch watch;
    EXPECT_EQ(Run(*request), LOAD_FLASH_ERROR);
    EXPECT_LT(watch.Elapsed(), 2500u) << "an error byte ends the wait at once, not after the time-out";
    EXPECT_TRUE(texts.Saw("Error in Flash file loading"));
    EXPECT_EQ(model_->LoadsCompleted(), 0);
}

TEST_F(LoadRun, IdentifierRulesForEachKind)
{
    struct Case {
        int deviceKind;
        uint8_t deviceId;
        int ramId;
        int flashId;
        int result;
        const char* text;
    };
    const Case cases[] = {
        {kLoadReceiver, 20, 22, 20, LOAD_OK, "Loading completed"},
        {kLoadReceiver, 20, 20, 22, LOAD_VERSION_ERROR, "Improper Flash file for this device"},
        {kLoadReceiver, 20, 21, 20, LOAD_VERSION_ERROR, "Improper RAM file for this device"},
        {kLoadPowerBoard, 20, 22, 22, LOAD_OK, "Loading completed"},
    };
    for (const Case& c : cases) {
        ReceiverConfig config = PowerOnAfter(200);
        config.receiverBoot.deviceId = c.deviceId;
        StartReceiver(config);
        LastTexts texts(status_);
        auto request = Request(kPowerOnCapture, RamFile({true, c.ramId, "", 10}),
                               FlashFile({c.flashId, "7.0", 100, true}));
        request->deviceKind = c.deviceKind;  // the check rules only; the model is a receiver
        EXPECT_EQ(Run(*request), c.result) << c.ramId << "/" << c.flashId;
        EXPECT_TRUE(texts.Saw(c.text)) << c.text;
        UnregisterSimPort(portName_);
    }
}

TEST_F(LoadRun, BootLoaderRefusalsEndWithTheirCodes)
{
    struct Case {
        uint8_t procedureVersion;
        uint8_t ramAck;
        int result;
        const char* text;
    };
    const Case cases[] = {
        // The verdict 0x00 still reaches the device, which then records the refusal.
        {1, 0x1E, LOAD_VERSION_ERROR, "Loading procedure was changed. Update your loader"},
        {0, 0x06, LOAD_RAM_ERROR, "Error in RAM file loading"},
    };
    for (const Case& c : cases) {
        ReceiverConfig config = PowerOnAfter(200);
        config.receiverBoot.procedureVersion = c.procedureVersion;
        config.receiverBoot.ramAck = c.ramAck;
        StartReceiver(config);
        LastTexts texts(status_);
        auto request = Request(kPowerOnCapture, RamFile({true, 20, "", 10}), FlashFile({20, "7.0", 100, true}));
        EXPECT_EQ(Run(*request), c.result);
        EXPECT_TRUE(texts.Saw(c.text)) << c.text;
        if (c.procedureVersion > 0) {
            EXPECT_NE(model_->LastError().find("refused"), std::string::npos) << model_->LastError();
        }
        UnregisterSimPort(portName_);
    }
}

TEST_F(LoadRun, UnusableImagesEndTheRunBeforeAnyCapture)
{
    StartReceiver();
    const std::string firmware = model_->FirmwareVersion();
    LastTexts texts(status_);
    auto missing = Request(kSoftBreakCapture, dir_ + "/absent.ldr", "");
    EXPECT_EQ(Run(*missing), LOAD_FILE_ERROR);
    auto shortRam = Request(kSoftBreakCapture, WriteFile("short.ldr", std::vector<uint8_t>(12, 0)), "");
    EXPECT_EQ(Run(*shortRam), LOAD_FILE_ERROR);
    EXPECT_TRUE(texts.Saw("RAM file " + dir_ + "/short.ldr is too short (12 bytes): an image has a 20-byte header"));
    auto missingFlash = Request(kSoftBreakCapture, RamFile(), dir_ + "/absent.ldp");
    EXPECT_EQ(Run(*missingFlash), LOAD_FILE_ERROR);
    // A Flash image shorter than its header would go out as a lone end frame and leave
    // the device without firmware, even one whose identifier passes the check.
    const std::vector<uint8_t> headerCut = {0xFF, 0xFF, 0xFF, 0xFF, 20, 1, 2, 3, 4, 5};
    for (const auto& [name, bytes] : {std::pair{"cut.ldp", headerCut}, std::pair{"empty.ldp", std::vector<uint8_t>{}}}) {
        for (const bool check : {true, false}) {
            auto shortFlash = Request(kSoftBreakCapture, RamFile(), WriteFile(name, bytes));
            shortFlash->checkFlash = check;
            EXPECT_EQ(Run(*shortFlash), LOAD_FILE_ERROR) << name << " checked " << check;
            EXPECT_TRUE(texts.Saw("Flash file " + dir_ + "/" + name + " is too short (" +
                                  std::to_string(bytes.size()) + " bytes): an image has a 20-byte header"));
        }
    }
    EXPECT_EQ(model_->CurrentMode(), ReceiverModel::Mode::Firmware) << "nothing reached the device";
    EXPECT_EQ(model_->LoadsCompleted(), 0);
    EXPECT_EQ(model_->FirmwareVersion(), firmware);
}

TEST_F(LoadRun, CancelBeforeThePortOpensAndDuringCapture)
{
    StartReceiver();  // never power-cycled: the capture can only end by the cancel
    auto early = Request(kPowerOnCapture, RamFile(), "");
    early->cancel->Set();
    EXPECT_EQ(Run(*early), LOAD_ABORTED);

    LastTexts texts(status_);
    auto during = Request(kPowerOnCapture, RamFile(), "");
    std::thread canceller([&] {
        SleepMs(300);
        during->cancel->Set();
    });
    const CStopwatch watch;
    EXPECT_EQ(Run(*during), LOAD_ABORTED);
    canceller.join();
    EXPECT_LT(watch.Elapsed(), 3000u);
    EXPECT_TRUE(texts.Saw("Capturing aborted by User"));
}

TEST_F(LoadRun, CancelDuringRamAndDuringFlashGivesTwo)
{
    for (bool inFlash : {false, true}) {
        StartReceiver(PowerOnAfter(100), true);  // paced, so the stage lasts long enough
        LastTexts texts(status_);
        auto request = Request(kPowerOnCapture, RamFile({true, 20, "", inFlash ? size_t{100} : size_t{60000}}),
                               FlashFile({20, "8.0", 60000, true}));
        bool ramDone = false;
        request->progress = [&] {
            if (inFlash && texts.Saw("RAM file loaded"))
                ramDone = true;
            if (!inFlash || ramDone)
                request->cancel->Set();
        };
        EXPECT_EQ(Run(*request), LOAD_ABORTED);
        EXPECT_TRUE(texts.Saw(inFlash ? "Flash file loading aborted by User" : "RAM file loading aborted by User"));
        EXPECT_EQ(model_->LoadsCompleted(), 0) << "a cancelled load never commits an image";
        UnregisterSimPort(portName_);
    }
}

TEST_F(LoadRun, SilentOrVanishingDeviceMidFlashEndsPromptlyOnStop)
{
    for (bool disconnect : {false, true}) {
        ReceiverConfig config = PowerOnAfter(100);
        StartReceiver(config);
        auto request = Request(kPowerOnCapture, RamFile({true, 20, "", 100}), FlashFile({20, "9.0", 40000, true}));
        request->timing.replyTimeoutMs = 20000;
        bool faulted = false;
        request->progress = [&] {
            if (faulted)
                return;
            faulted = true;
            LineFaults faults;
            faults.silent = !disconnect;
            faults.disconnectAfter = disconnect ? 0 : -1;
            model_->SetFaults(faults);
        };
        std::thread worker([&] { RunLoadWorker(request, portTiming_); });
        SleepMs(1500);
        EXPECT_FALSE(request->Done() && !disconnect) << "a silent device is waited for";
        const CStopwatch watch;
        request->RequestStop();
        EXPECT_TRUE(request->WaitDone(5000));
        EXPECT_LT(watch.Elapsed(), 1000u + 400u) << "stop, plus closing the port";
        worker.join();
        EXPECT_NE(request->Result(), LOAD_OK);
        UnregisterSimPort(portName_);
    }
}

TEST_F(LoadRun, NoImagesWithPowerOnCaptureSendsNothing)
{
    StartReceiver();
    auto request = Request(kPowerOnCapture, "", "");
    EXPECT_EQ(Run(*request), LOAD_OK);
    EXPECT_EQ(model_->BytesHeard(), 0u);
}

TEST_F(LoadRun, SoftBreakWithNoReceiverStartsNoWorker)
{
    ReceiverConfig config;
    StartReceiver(config);
    model_->SetFaults(LineFaults{0, 0, 0, 0, 0, true, 0, -1});
    CStatusChannel page;
    CLoadSession session(page);
    LoadSetup setup;
    setup.portName = portName_;
    setup.portTiming = portTiming_;
    setup.protocolTiming.replyTimeoutCapMs = 100;
    setup.protocolTiming.settlePauseMs = 10;
    setup.protocolTiming.exchangePauseMs = 10;
    setup.ramPath = RamFile();
    int range = 0;
    setup.setRange = [&](int steps) { range = steps; };
    EXPECT_EQ(session.StartLoad(kSoftBreakCapture, setup), CLoadSession::kConnectFailed);
    EXPECT_EQ(page.Text(), "Can't connect with receiver");
    EXPECT_EQ(session.Request(), nullptr);
    EXPECT_EQ(range, 1 + (36 / 1024) + 1) << "a 36-byte RAM image and no Flash image";
}

TEST(LoadSession, ProgressRangeCountsBothImages)
{
    const std::string dir = test::MakeUniqueTestDir("kestrum-steps");
    ASSERT_FALSE(dir.empty());
    std::ofstream(dir + "/f.ldp") << std::string(3000, 'x');
    std::ofstream(dir + "/r.ldr") << std::string(5000, 'x');
    EXPECT_EQ(CLoadSession::ProgressSteps(dir + "/r.ldr", dir + "/f.ldp"), 12);
    EXPECT_EQ(CLoadSession::ProgressSteps(dir + "/none.ldr", ""), 1);
    std::filesystem::remove_all(dir);
}

// A sparse file of 2 TiB: the count stays a valid, capped number.
TEST(LoadSession, ProgressRangeOfAHugeImageIsCapped)
{
    const std::string dir = test::MakeUniqueTestDir("kestrum-steps");
    ASSERT_FALSE(dir.empty());
    std::ofstream(dir + "/r.ldr") << std::string(5000, 'x');
    std::ofstream(dir + "/huge.ldp").close();
    std::filesystem::resize_file(dir + "/huge.ldp", 2ULL << 40);
    EXPECT_EQ(CLoadSession::ProgressSteps(dir + "/r.ldr", dir + "/huge.ldp"), std::numeric_limits<int>::max());
    std::filesystem::remove_all(dir);
}

TEST_F(LoadRun, SessionConnectsThenLoadsOnItsWorker)
{
    ReceiverConfig config;
    config.commands.rate = 9600;  // the connection search must find it and move it
    StartReceiver(config);
    CStatusChannel page;
    CLoadSession session(page);
    LoadSetup setup;
    setup.portName = portName_;
    setup.portTiming = portTiming_;
    setup.protocolTiming.settlePauseMs = 10;
    setup.protocolTiming.exchangePauseMs = 10;
    setup.ramPath = RamFile({true, 20, "", 500});
    setup.flashPath = FlashFile({20, "3.1", 700, true});
    setup.timing.replyTimeoutMs = 3000;
    setup.statusLink = status_.Number();
    ASSERT_EQ(session.StartLoad(kSoftBreakCapture, setup), CLoadSession::kStarted);
    ASSERT_NE(session.Request(), nullptr);
    EXPECT_TRUE(session.Request()->WaitDone(30000));
    session.Join();
    EXPECT_EQ(session.Request()->Result(), LOAD_OK);
    EXPECT_EQ(model_->FirmwareVersion(), "3.1");
    EXPECT_EQ(status_.Text(), "Loading completed");
}
