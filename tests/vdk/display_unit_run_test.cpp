#include "vdk/display_unit_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/chattering_server.h"
#include "platform/message_pump.h"
#include "platform/serial_device_factory.h"
#include "vdk/display_unit_texts.h"
#include "vdk_test_cable.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

constexpr int kPages = 256;

// What the Program page would have shown.
struct Screen {
    std::vector<std::string> statuses;
    std::vector<FlashLamp> lamps;
    std::vector<uint32_t> progress;
    int progressTextShown = 0;
    int pumps = 0;
};

// Stands in for the window system: counts the drains and presses Cancel on one of them.
class PumpHook {
public:
    PumpHook(Screen& screen, CEvent& cancel, int cancelOnPump)
    {
        MessagePump::InstallPumpHook([&screen, &cancel, cancelOnPump] {
            if (++screen.pumps == cancelOnPump)
                cancel.Set();
        });
    }
    ~PumpHook() { MessagePump::InstallPumpHook({}); }
};

class DisplayUnitRun : public ::testing::Test {
protected:
    void SetUp() override { image_.assign(DisplayUnitImage().begin(), DisplayUnitImage().end()); }

    DisplayUnitRunOutcome Run(int cancelOnPump = -1, CableFaults faults = {})
    {
        PumpHook hook(screen_, cancel_, cancelOnPump);
        DisplayUnitRunRequest request;
        port_ = RegisterUnit(model_);
        request.portName = port_;
        request.cancel = &cancel_;
        request.callbacks.status = [this](const std::string& t) { screen_.statuses.push_back(t); };
        request.callbacks.lamp = [this](FlashLamp l) { screen_.lamps.push_back(l); };
        request.callbacks.progress = [this](uint32_t c) { screen_.progress.push_back(c); };
        request.callbacks.showProgressText = [this] { ++screen_.progressTextShown; };
        request.image = std::span<const uint8_t, kDisplayUnitImageSize>(image_.data(), kDisplayUnitImageSize);
        request.deviceFactory = WatchedFactory(log_, faults);
        request.waits = waits_;
        return RunDisplayUnitLoad(request);
    }

    void ExpectPortLeftAsFound()
    {
        ASSERT_EQ(log_->settingsAtClose.size(), 1u);
        EXPECT_TRUE(SameSettings(log_->settingsAtClose[0], EarlierSettings()));
    }

    bool FlashHoldsImage()
    {
        const auto flash = model_->FlashMemory();
        return std::equal(flash.begin(), flash.end(), image_.begin());
    }

    void StartOver()
    {
        model_ = std::make_shared<Vdk1Model>();
        *log_ = CableLog{};
        screen_ = Screen{};
    }

    std::shared_ptr<Vdk1Model> model_ = std::make_shared<Vdk1Model>();
    std::string port_;
    VdkWaits waits_ = kNoWaits;
    std::shared_ptr<CableLog> log_ = std::make_shared<CableLog>();
    std::vector<uint8_t> image_;
    CEvent cancel_{CEvent::ResetMode::Auto};
    Screen screen_;
};

}  // namespace

TEST_F(DisplayUnitRun, ProgramsAndVerifiesTheCarriedImage)
{
    const DisplayUnitRunOutcome outcome = Run();

    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.resultText, kVdkTextCompleted);
    EXPECT_EQ(outcome.message, kVdkTextCompleted);
    EXPECT_TRUE(FlashHoldsImage());
    EXPECT_EQ(model_->ChipErases(), 1);
    EXPECT_EQ(model_->PagesWritten(), kPages);
    // Released and closed: the unit runs the new firmware and reports its version.
    EXPECT_EQ(log_->dtrAtClose, false);
    ExpectPortLeftAsFound();
    ASSERT_TRUE(ReadVersionRecord(DisplayUnitImage()));
    EXPECT_EQ(model_->ReportedFirmware(), ReadVersionRecord(DisplayUnitImage()));

    EXPECT_EQ(screen_.statuses,
              (std::vector<std::string>{kVdkTextErased, kVdkTextLoading, kVdkTextVerify, kVdkTextCompleted}));
    EXPECT_EQ(screen_.lamps, (std::vector<FlashLamp>{FlashLamp::TransferRunning, FlashLamp::TransferDone}));
    EXPECT_EQ(screen_.progressTextShown, 1);
    ASSERT_EQ(screen_.progress.size(), 1u + 2 * kPages);
    for (size_t i = 0; i < screen_.progress.size(); ++i)
        ASSERT_EQ(screen_.progress[i], 256 * i);
    EXPECT_EQ(screen_.progress.back(), kDisplayUnitProgressEnd);
    EXPECT_GE(screen_.pumps, 2 * kPages);

    // Each call changes a line, and DSR is read only for bits that come back: 8 for each
    // of the 65536 bytes and for each of the two synchronisations.
    EXPECT_EQ(log_->redundantLineCalls, 0u);
    EXPECT_EQ(log_->modemReads, 8u * (kDisplayUnitImageSize + 2));
    EXPECT_GT(outcome.lineOperations, log_->modemReads);
}

TEST_F(DisplayUnitRun, NoUnitIsOutOfSynchronisationAfterThirtyTwoAttemptsWhateverDsrShows)
{
    for (bool dsr : {false, true}) {
        Vdk1Model::Options options;
        options.present = false;
        options.absentDsr = dsr;
        model_ = std::make_shared<Vdk1Model>(options);
        *log_ = CableLog{};
        screen_ = Screen{};

        const DisplayUnitRunOutcome outcome = Run();

        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.resultText, kVdkTextOutOfSync);
        EXPECT_EQ(screen_.statuses, std::vector<std::string>{kVdkTextOutOfSync});
        EXPECT_TRUE(screen_.lamps.empty());
        EXPECT_EQ(log_->modemReads, 32u * 8) << "dsr " << dsr;
        ExpectPortLeftAsFound();
    }
}

TEST_F(DisplayUnitRun, CancelDuringProgrammingStopsBeforeTheNextPage)
{
    // The first drain of all comes before page 0; the eleventh before page 10.
    const DisplayUnitRunOutcome outcome = Run(11);

    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.resultText, kVdkTextAborted);
    EXPECT_EQ(outcome.message, kVdkTextAborted);
    EXPECT_EQ(model_->PagesWritten(), 10);
    EXPECT_EQ(screen_.progress.back(), 10u * 256);
    EXPECT_EQ(std::count(screen_.statuses.begin(), screen_.statuses.end(), kVdkTextVerify), 0);
    EXPECT_EQ(log_->dtrAtClose, true);  // not released: only a successful run releases
    ExpectPortLeftAsFound();
}

TEST_F(DisplayUnitRun, CancelDuringVerificationLeavesTheUnitProgrammed)
{
    const DisplayUnitRunOutcome outcome = Run(kPages + 4);

    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.resultText, kVdkTextAborted);
    EXPECT_TRUE(FlashHoldsImage());
    EXPECT_EQ(screen_.progress.back(), kDisplayUnitImageSize + 3 * 256);
    EXPECT_EQ(log_->modemReads, 8u * (3 * 256 + 2));
    ExpectPortLeftAsFound();
}

// On a slow adapter a page's batch of line changes takes seconds: Cancel (here from
// another thread, as kestrum-cli's Ctrl-C comes) ends it in the middle of the page.
TEST_F(DisplayUnitRun, CancelEndsAPageUnderWayOnASlowAdapter)
{
    CableFaults faults;
    faults.lineCallTime = std::chrono::microseconds(50);
    std::atomic<bool> running{true};
    std::thread user([this, &running] {
        while (running && model_->PagesWritten() < 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        cancel_.Set();
    });
    const DisplayUnitRunOutcome outcome = Run(-1, faults);
    running = false;
    user.join();

    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.resultText, kVdkTextAborted);
    EXPECT_EQ(outcome.message, kVdkTextAborted);
    EXPECT_EQ(model_->PagesWritten(), 1) << "the second page was not finished";
    EXPECT_EQ(
        std::count(screen_.statuses.begin(), screen_.statuses.end(), "Lost connection with port " + port_),
        0);
    ExpectPortLeftAsFound();
}

TEST_F(DisplayUnitRun, FirstWrongByteStopsVerificationWithItsAddressAndValues)
{
    image_[0x1234] = 0x0C;
    model_->SetStuckCells({0x1234, 0x2000});

    const DisplayUnitRunOutcome outcome = Run();

    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.resultText, "Wrong data at address 00001234/ ff instead of 0c\r\n");
    EXPECT_EQ(outcome.message, outcome.resultText);
    // Read back a stretch of 256 at a time, the stretch holding it being the last.
    EXPECT_EQ(log_->modemReads, 8u * (0x1300 + 2));
    ExpectPortLeftAsFound();
}

// A stretch is read back in one go; a read that fails after a wrong byte of the same
// stretch still reports the wrong byte, as reading them one by one would have.
TEST_F(DisplayUnitRun, WrongByteBeforeAFailedReadOfItsStretchIsStillReported)
{
    image_[0x1234] = 0x0C;
    model_->SetStuckCells({0x1234});

    const DisplayUnitRunOutcome outcome = Run(-1, CableFaults{8 * (2 + 0x1234 + 5), false});

    EXPECT_EQ(outcome.resultText, "Wrong data at address 00001234/ ff instead of 0c\r\n");
}

TEST_F(DisplayUnitRun, UnreadableModemStatusDuringVerificationIsAnSpiReadingError)
{
    const DisplayUnitRunOutcome outcome = Run(-1, CableFaults{8 * 2 + 8 * 100, false});

    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.resultText, kVdkTextReadError);
    EXPECT_EQ(model_->PagesWritten(), kPages);
    // The port is still there, it only refuses the line: that is not a lost connection.
    ASSERT_GE(screen_.statuses.size(), 2u);
    EXPECT_EQ(screen_.statuses[screen_.statuses.size() - 2], "Can't use the control lines of port " + port_);
    ExpectPortLeftAsFound();
}

TEST_F(DisplayUnitRun, PortThatWillNotTakeTheSettingsIsAnOpeningError)
{
    const DisplayUnitRunOutcome outcome = Run(-1, CableFaults{-1, true});

    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.resultText, "");
    EXPECT_EQ(screen_.statuses,
              (std::vector<std::string>{"Port " + port_ +
                                            " does not take 115200 baud, 8 data bits, no parity, 1 stop bit",
                                        kVdkTextPortError}));
    EXPECT_EQ(outcome.message, kVdkTextPortError);
    EXPECT_EQ(model_->ChipErases(), 0);
    ExpectPortLeftAsFound();
}

// What the system says about opening name as a port ("Inappropriate ioctl for device"
// for /dev/null on Linux; not a port name at all on Windows).
static std::string SystemReason(const std::string& name)
{
    auto device = CreateSerialDevice(name);
    return device->Open(name) ? "opened" : device->OpenErrorText();
}

// A port that does not open shows the system's reason and the port's text before the run's
// own fixed text, whatever the cause.
TEST(DisplayUnitRunOpen, EveryOpenFailureShowsItsReasonBeforeThePortError)
{
    const auto unit = std::make_shared<Vdk1Model>();
    const std::string held = RegisterUnit(unit);
    std::unique_ptr<ISerialDevice> holder = CreateSerialDevice(held);
    ASSERT_TRUE(holder->Open(held));

    struct Case {
        std::string port;
        std::vector<std::string> statuses;
    } const cases[] = {
        {"/dev/null", {SystemReason("/dev/null"), "Open /dev/null port failed", kVdkTextPortError}},
        {"sim:vdk1-nobody",
         {"no simulated device under the name sim:vdk1-nobody", "Open sim:vdk1-nobody port failed",
          kVdkTextPortError}},
        {held, {"simulated device in use", "Port " + held + " is busy", kVdkTextPortError}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> statuses;
        DisplayUnitRunRequest request;
        request.portName = c.port;
        request.callbacks.status = [&statuses](const std::string& t) { statuses.push_back(t); };
        const DisplayUnitRunOutcome outcome = RunDisplayUnitLoad(request);

        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.resultText, "");
        EXPECT_EQ(statuses, c.statuses);
        EXPECT_EQ(outcome.message, kVdkTextPortError);
    }
    EXPECT_EQ(unit->ChipErases(), 0);
}

// A unit that vanishes (the cable pulled, the adapter unplugged) ends the run at the first
// line operation that fails, naming the port, and the step's failure text follows.
TEST_F(DisplayUnitRun, PulledCableEndsTheRunAtOnceNamingTheLostPort)
{
    struct Moment {
        const char* during;
        std::function<bool(const CableLog&)> unplugWhen;
        std::string stepText;
        int pagesWritten;
    };
    const auto model = [this] { return model_; };
    const Moment moments[] = {
        {"erase", [model](const CableLog&) { return model()->ChipErases() == 1; }, kVdkTextCantLoad, 0},
        {"programming", [model](const CableLog&) { return model()->PagesWritten() == 100; }, kVdkTextCantLoad,
         100},
        {"verification", [](const CableLog& log) { return log.modemReads > 8 * (2 + 1000); },
         kVdkTextReadError, kPages},
    };
    for (const Moment& moment : moments) {
        SCOPED_TRACE(moment.during);
        StartOver();
        CableFaults faults;
        faults.unplugWhen = moment.unplugWhen;

        const DisplayUnitRunOutcome outcome = Run(-1, faults);

        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.resultText, moment.stepText);
        EXPECT_EQ(outcome.message, moment.stepText);
        ASSERT_GE(screen_.statuses.size(), 2u);
        EXPECT_EQ(screen_.statuses[screen_.statuses.size() - 2], "Lost connection with port " + port_);
        EXPECT_EQ(screen_.statuses.back(), moment.stepText);
        // Nothing is clocked into the void: the call that found the cable pulled was the last.
        EXPECT_EQ(log_->callsAfterUnplug, 1u);
        EXPECT_EQ(model_->PagesWritten(), moment.pagesWritten);
    }
}

TEST_F(DisplayUnitRun, PulledCableDuringProgrammingIsReportedWithoutWaitingOutTheRemainingPages)
{
    waits_ = VdkWaits{};  // the unit's real page-write time: 56 ms for each page not written
    CableFaults faults;
    faults.unplugWhen = [this](const CableLog&) { return model_->PagesWritten() == 3; };

    const DisplayUnitRunOutcome outcome = Run(-1, faults);

    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.message, kVdkTextCantLoad);
    ASSERT_TRUE(log_->sinceUnplug);
    // Waiting out the other 253 pages would take 14 s; the bound only proves it did not.
    EXPECT_LT(log_->sinceUnplug->Elapsed(), 5000u);
}

// A network port that takes its time to open: Cancel ends the open, not the 5 s bound.
TEST(DisplayUnitRunOpen, CancelWhileANetworkPortOpensEndsTheRun)
{
    test::ChatteringServer server(test::ChatteringServer::Goes::ComPortControl);
    CEvent cancel(CEvent::ResetMode::Auto);
    DisplayUnitRunRequest request;
    request.portName = server.Url();
    request.cancel = &cancel;
    std::thread canceller([&] {
        server.AwaitConnection();
        cancel.Set();
    });
    const auto start = std::chrono::steady_clock::now();
    const DisplayUnitRunOutcome outcome = RunDisplayUnitLoad(request);
    canceller.join();
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.message, kVdkTextPortError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "not the 5 s negotiation bound";
}
