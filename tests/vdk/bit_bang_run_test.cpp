// VDK-1 runs through an FTDI adapter's synchronous bit-bang mode, against the simulated
// FT232R (unpaced) with the simulated unit on its cable. The adapter's serial side is a
// sim port of the same unit, watched by the test cable, so a run that falls back to the
// control lines is seen there.
#include "vdk/display_unit_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/message_pump.h"
#include "platform/serial_device_factory.h"
#include "sim/ft232r_model.h"
#include "sim/sim_bit_bang_port.h"
#include "vdk/display_unit_texts.h"
#include "vdk/vdk_line_plan.h"
#include "vdk_test_cable.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

constexpr int kPages = 256;
const std::vector<std::string> kRunTexts = {kVdkTextErased, kVdkTextLoading, kVdkTextVerify,
                                            kVdkTextCompleted};

struct Screen {
    std::vector<std::string> statuses;
    std::vector<uint32_t> progress;
};

class BitBangRun : public ::testing::Test {
protected:
    void SetUp() override { image_.assign(DisplayUnitImage().begin(), DisplayUnitImage().end()); }

    // A fresh unit and adapter; release is the chip's bcdDevice as sysfs shows it.
    void Adapter(Ft232rModel::Options chip = {}, std::string release = "0600", std::string vendor = "0403")
    {
        unit_ = std::make_shared<Vdk1Model>();
        chip_ = chip;
        adapter_ = std::make_shared<Ft232rModel>(unit_, chip);
        release_ = std::move(release);
        vendor_ = std::move(vendor);
        *log_ = CableLog{};
        screen_ = Screen{};
    }

    DisplayUnitRunOutcome Run(VdkLines lines = VdkLines::Auto)
    {
        port_ = RegisterUnit(unit_);
        DisplayUnitRunRequest request;
        request.portName = port_;
        request.lines.lines = lines;
        request.cancel = &cancel_;
        request.callbacks.status = [this](const std::string& t) { screen_.statuses.push_back(t); };
        request.callbacks.progress = [this](uint32_t c) { screen_.progress.push_back(c); };
        request.image = std::span<const uint8_t, kDisplayUnitImageSize>(image_.data(), kDisplayUnitImageSize);
        request.deviceFactory = WatchedFactory(log_);
        request.waits = kNoWaits;
        request.describePort = [this](const std::string& port) {
            PortDetails details;
            details.path = port;
            details.vendorId = vendor_;
            details.deviceRelease = release_;
            details.busNumber = chip_.location.bus;
            details.deviceAddress = chip_.location.address;
            details.interfaceNumber = chip_.location.interfaceNumber;
            return details;
        };
        request.bitBangPort = [this] { return std::make_unique<SimBitBangPort>(adapter_); };
        return RunDisplayUnitLoad(request);
    }

    bool FlashHoldsImage() const
    {
        const auto flash = unit_->FlashMemory();
        return std::equal(flash.begin(), flash.end(), image_.begin());
    }

    // The adapter is its serial driver's again: the unit's serial port opens.
    void ExpectAdapterGivenBack()
    {
        EXPECT_TRUE(adapter_->DriverAttached());
        std::unique_ptr<ISerialDevice> serial = CreateSerialDevice(port_);
        EXPECT_TRUE(serial->Open(port_)) << serial->OpenErrorText();
    }

    std::shared_ptr<Vdk1Model> unit_;
    Ft232rModel::Options chip_;
    std::shared_ptr<Ft232rModel> adapter_;
    std::string release_;
    std::string vendor_;
    std::string port_;
    std::shared_ptr<CableLog> log_ = std::make_shared<CableLog>();
    std::vector<uint8_t> image_;
    CEvent cancel_{CEvent::ResetMode::Auto};
    Screen screen_;
};

} // namespace

// The run is the control-line run in every way the user and the unit can tell; only the
// adapter carries the line changes, a page or a stretch of read-back per transfer.
TEST_F(BitBangRun, ProgramsAndVerifiesAsTheControlLinesDoAndGivesTheAdapterBack)
{
    Adapter();
    const DisplayUnitRunOutcome outcome = Run();

    EXPECT_TRUE(outcome.success) << outcome.message;
    EXPECT_TRUE(outcome.bitBang);
    EXPECT_EQ(outcome.resultText, kVdkTextCompleted);
    EXPECT_EQ(screen_.statuses, kRunTexts);
    ASSERT_EQ(screen_.progress.size(), 1u + 2 * kPages);
    for (size_t i = 0; i < screen_.progress.size(); ++i)
        ASSERT_EQ(screen_.progress[i], 256 * i);
    EXPECT_TRUE(FlashHoldsImage());
    EXPECT_EQ(unit_->ChipErases(), 1);
    EXPECT_EQ(unit_->PagesWritten(), kPages);
    ASSERT_TRUE(ReadVersionRecord(DisplayUnitImage()));
    EXPECT_EQ(unit_->ReportedFirmware(), ReadVersionRecord(DisplayUnitImage()))
        << "released: the unit runs it";
    EXPECT_EQ(log_->modemReads + log_->settingsAtClose.size(), 0u) << "the serial port is never opened";
    // One state per line change, plus the few that bring a batch's last sample back.
    EXPECT_EQ(outcome.pinStates, adapter_->StatesClocked());
    const uint64_t reads = 8 * (kDisplayUnitImageSize + 2);
    EXPECT_GE(outcome.pinStates, outcome.lineOperations - reads);
    EXPECT_LT(outcome.pinStates, outcome.lineOperations - reads + 64);
    // Pages and stretches of 256 bytes, the synchronisations, the erase, resets and releases.
    EXPECT_GE(adapter_->Transfers(), 2 * kPages);
    EXPECT_LE(adapter_->Transfers(), 2 * kPages + 12);
    EXPECT_EQ(adapter_->Detaches(), 1);
    ExpectAdapterGivenBack();
}

TEST_F(BitBangRun, PlantedWrongByteIsReportedWithTheControlLineText)
{
    Adapter();
    image_[0x1234] = 0x0C;
    unit_->SetStuckCells({0x1234, 0x2000});

    const DisplayUnitRunOutcome outcome = Run();

    EXPECT_FALSE(outcome.success);
    EXPECT_TRUE(outcome.bitBang);
    EXPECT_EQ(outcome.resultText, "Wrong data at address 00001234/ ff instead of 0c\r\n");
    EXPECT_EQ(outcome.message, outcome.resultText);
    ExpectAdapterGivenBack();
}

// Cancel is looked at between transfers: the page under way is finished, the next one is
// never begun.
TEST_F(BitBangRun, CancelMidPageEndsTheRunBeforeTheNextPage)
{
    Adapter();
    adapter_->WatchTransfers([this] {
        if (unit_->PagesWritten() == 10)
            cancel_.Set();
    });

    const DisplayUnitRunOutcome outcome = Run();

    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.resultText, kVdkTextAborted);
    EXPECT_EQ(outcome.message, kVdkTextAborted);
    EXPECT_EQ(unit_->PagesWritten(), 11);
    EXPECT_EQ(screen_.progress.back(), 11u * 256);
    ExpectAdapterGivenBack();
}

// An adapter pulled out ends the run at the transfer that finds it gone, with the texts of a
// lost port, whether it goes while pages are written or while they are read back.
TEST_F(BitBangRun, VanishingAdapterEndsTheRunAtOnceWithTheTextsOfALostPort)
{
    struct Moment {
        const char* during;
        int pagesWritten;
        int transfersAfterLastPage;
        const char* stepText;
    };
    for (const Moment moment : {Moment{"programming", 100, -1, kVdkTextCantLoad},
                                Moment{"verification", kPages, 5, kVdkTextReadError}}) {
        SCOPED_TRACE(moment.during);
        Adapter();
        int afterLastPage = 0;
        int transfersAtUnplug = -1;
        adapter_->WatchTransfers([&] {
            afterLastPage += unit_->PagesWritten() == kPages ? 1 : 0;
            const bool now = moment.transfersAfterLastPage < 0
                                 ? unit_->PagesWritten() == moment.pagesWritten
                                 : afterLastPage == moment.transfersAfterLastPage;
            if (now && transfersAtUnplug < 0) {
                transfersAtUnplug = adapter_->Transfers();
                adapter_->Unplug();
            }
        });

        const DisplayUnitRunOutcome outcome = Run();

        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.resultText, moment.stepText);
        EXPECT_EQ(outcome.message, moment.stepText);
        ASSERT_GE(screen_.statuses.size(), 2u);
        EXPECT_EQ(screen_.statuses[screen_.statuses.size() - 2], "Lost connection with port " + port_);
        EXPECT_EQ(unit_->PagesWritten(), moment.pagesWritten);
        EXPECT_EQ(adapter_->Transfers(), transfersAtUnplug)
            << "nothing is sent after the transfer that failed";
        EXPECT_FALSE(adapter_->DriverAttached()) << "an adapter that is gone comes back only when plugged in";
        EXPECT_EQ(log_->modemReads, 0u) << "no fall back to the control lines of a port that is gone";
    }
}

// Auto takes the control lines when bit-bang cannot be had, and one status line says why;
// bit-bang asked for and not possible stops the run before anything is sent.
TEST_F(BitBangRun, RefusedBitBangFallsBackToTheControlLinesSayingWhy)
{
    const std::string slow = "; the VDK-1 is programmed through the control lines, which takes 3 hours or "
                             "more through a USB adapter";
    Ft232rModel::Options refusingChip;
    refusingChip.synchronousBitBang = false;
    Ft232rModel::Options lockedNode;
    lockedNode.openRefusal = "no permission to use /dev/bus/usb/001/005";
    struct Case {
        Ft232rModel::Options chip;
        std::string release;
        std::string vendor;
        std::string reason; // PORT stands for the port's name
        int detaches;
    } const cases[] = {
        {refusingChip, "0600", "0403",
         "The FTDI adapter of PORT cannot be used in bit-bang mode: unable to configure bitbang mode", 1},
        {lockedNode, "0600", "0403",
         "The FTDI adapter of PORT cannot be used in bit-bang mode: no permission to use "
         "/dev/bus/usb/001/005",
         0},
        {{}, "0400", "0403", "The FTDI chip of PORT (FT232B) has no synchronous bit-bang mode", 0},
        {{}, "0600", "067b", "The USB adapter of PORT is not an FTDI adapter (USB vendor 067b)", 0},
    };
    for (const Case& c : cases) {
        Adapter(c.chip, c.release, c.vendor);
        // Cancelled before the first page: the erase through the control lines is enough.
        cancel_.Reset();
        MessagePump::InstallPumpHook([this] { cancel_.Set(); });
        const DisplayUnitRunOutcome outcome = Run();
        MessagePump::InstallPumpHook({});
        std::string reason = c.reason;
        reason.replace(reason.find("PORT"), 4, port_);

        SCOPED_TRACE(reason);
        EXPECT_FALSE(outcome.bitBang);
        ASSERT_FALSE(screen_.statuses.empty());
        EXPECT_EQ(screen_.statuses.front(), reason + slow);
        EXPECT_EQ(outcome.resultText, kVdkTextAborted);
        EXPECT_EQ(unit_->ChipErases(), 1) << "erased through the control lines";
        EXPECT_EQ(log_->modemReads, 8u * 2) << "both synchronisations read DSR through the serial port";
        EXPECT_EQ(adapter_->Detaches(), c.detaches);
        EXPECT_TRUE(adapter_->DriverAttached());
    }

    // The control lines asked for: an FTDI adapter that has the mode is left alone.
    Adapter();
    MessagePump::InstallPumpHook([this] { cancel_.Set(); });
    const DisplayUnitRunOutcome viaControlLines = Run(VdkLines::Control);
    MessagePump::InstallPumpHook({});
    EXPECT_EQ(viaControlLines.resultText, kVdkTextAborted);
    EXPECT_EQ(screen_.statuses, (std::vector<std::string>{kVdkTextErased, kVdkTextLoading, kVdkTextAborted}));
    EXPECT_EQ(log_->modemReads, 8u * 2);
    EXPECT_EQ(adapter_->Detaches(), 0);

    Adapter({}, "0600", "067b");
    const DisplayUnitRunOutcome forced = Run(VdkLines::BitBang);
    EXPECT_FALSE(forced.success);
    EXPECT_EQ(
        screen_.statuses,
        (std::vector<std::string>{"The USB adapter of " + port_ +
                                      " is not an FTDI adapter (USB vendor 067b); bit-bang was asked for, so "
                                      "nothing is programmed",
                                  kVdkTextPortError}));
    EXPECT_EQ(unit_->ChipErases(), 0);
    EXPECT_EQ(log_->settingsAtClose.size(), 0u) << "the serial port is not opened either";
}
