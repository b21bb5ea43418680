// A load as the cable carries it: what the loader sends, when, and at which rate and line
// levels, stage by stage, read from the simulated receiver's wire log.

#include "load_fixture.h"

#include "loader/boot_protocol.h"
#include "loader/load_result.h"
#include "sim/wire_log.h"

#include <algorithm>

using namespace kestrum;
using namespace kestrum::test;

namespace {

using Kind = WireEvent::Kind;

const std::string kResetCommand = "##\n##\nset,reset,yes\n";
const std::string kSleepCommand = "##\n##\nset,sleep,on\n";
const std::string kHandshake = "\x06\x06\x06\x06";

int64_t Ms(SimTime t)
{
    return t.count() / 1000;
}

// Pauses are counted in whole milliseconds of a tick count, so one may be up to a
// millisecond short of its length on a finer clock.
int64_t Pause(int ms)
{
    return ms - 1;
}

ReceiverConfig PowerOnAfter(int ms)
{
    ReceiverConfig config;
    config.powerCycleAfterMs = ms;
    return config;
}

class LoadWire : public LoadFixture {
protected:
    std::vector<WireEvent> Wire() { return model_->WireEvents(); }
    wire::Timeline FromPc() { return wire::Sent(Wire(), Kind::FromPc); }

    // Where the boot loader's first 0x15 reached the PC: the moment of capture.
    SimTime CapturedAt() { return wire::First(Wire(), Kind::ToPc, boot::kRequest); }

    // What the PC sent from the capture on, leaving out the tail of the 0x55 stream.
    std::string SentAfterCapture()
    {
        const std::string sent = wire::Bytes(Wire(), Kind::FromPc, CapturedAt());
        return sent.substr(std::min(sent.find_first_not_of('\x55'), sent.size()));
    }

    // When the four handshake bytes went out (fewer when fewer did).
    std::vector<SimTime> HandshakeTimes()
    {
        const wire::Timeline sent = FromPc();
        std::vector<SimTime> times;
        const auto from = std::lower_bound(sent.at.begin(), sent.at.end(), CapturedAt()) - sent.at.begin();
        for (size_t i = sent.bytes.find(static_cast<char>(boot::kHandshake), static_cast<size_t>(from));
             i < sent.bytes.size() && sent.bytes[i] == static_cast<char>(boot::kHandshake) &&
             times.size() < 4;
             ++i)
            times.push_back(sent.at[i]);
        return times;
    }
};

} // namespace

// ---- Capture ---------------------------------------------------------------------------

TEST_F(LoadWire, PowerOnCaptureSendsNothingButTheFillStreamUntilTheBootLoaderAnswers)
{
    StartReceiver(PowerOnAfter(200));
    auto request = Request(kPowerOnCapture, RamFile({true, 20, "", 100}), "");
    ASSERT_EQ(Run(*request), LOAD_OK);
    const std::string sent = wire::Bytes(Wire(), Kind::FromPc);
    const std::string untilHandshake = sent.substr(0, sent.find('\x06'));
    EXPECT_GE(untilHandshake.size(), 1024u);
    EXPECT_EQ(untilHandshake.find_first_not_of('\x55'), std::string::npos) << "no command goes out";
    EXPECT_EQ(wire::Values(Wire(), Kind::Dtr), std::vector<uint32_t>{0})
        << "DTR dropped at open, never raised";
}

TEST_F(LoadWire, HandshakeStartsNoSoonerThan200MsAfterTheBootLoadersAnswer)
{
    StartReceiver(PowerOnAfter(200));
    auto request = Request(kPowerOnCapture, RamFile({true, 20, "", 100}), "");
    ASSERT_EQ(Run(*request), LOAD_OK);
    const SimTime captured = CapturedAt();
    const SimTime handshake = wire::First(Wire(), Kind::FromPc, boot::kHandshake, captured);
    ASSERT_NE(handshake, kSimNever);
    EXPECT_GE(Ms(handshake - captured), Pause(request->timing.capturedSettleMs));
}

TEST_F(LoadWire, SoftBreakSendsTheResetCommandOncePerPeriodUntilTheCaptureLimit)
{
    // Once at the start, then after each period, and never at the limit. A pass that is
    // late (a busy machine) delays every later reset, so the count may fall short of the
    // quiet machine's by one; what must hold is that no period passes without a reset
    // until the limit is near, and none follows another sooner than a period.
    struct Case {
        int periodMs;
        int limitMs;
        size_t resets;
    };
    const Case cases[] = {
        {300, 1050, 4}, {LoadTiming{}.captureResetEveryMs, 2500, 3}, // the shipped period
    };
    for (const Case& c : cases) {
        ReceiverConfig deaf; // restarts on the command, but its boot loader never answers
        StartReceiver(deaf);
        model_->SetFaults(LineFaults{0, 0, 0, 0, 0, true, 0, -1});
        auto request = Request(kSoftBreakCapture, RamFile(), "");
        request->timing.captureResetEveryMs = c.periodMs;
        request->timing.captureLimitMs = c.limitMs;
        LastTexts texts(status_);
        EXPECT_EQ(Run(*request), LOAD_CANT_CAPTURE);
        EXPECT_TRUE(texts.Saw("Can't capture receiver"));

        const wire::Timeline sent = FromPc();
        const std::vector<size_t> resets = sent.Find(kResetCommand);
        ASSERT_FALSE(resets.empty());
        EXPECT_LE(resets.size(), c.resets) << c.periodMs;
        EXPECT_GE(resets.size() + 1, c.resets) << c.periodMs;
        EXPECT_EQ(resets.front(), 0u) << "the first reset comes before any fill";
        for (size_t i = 1; i < resets.size(); ++i)
            EXPECT_GE(Ms(sent.at[resets[i]] - sent.at[resets[i - 1]]), Pause(c.periodMs)) << i;
        const int64_t lastReset = Ms(sent.at[resets.back()] - sent.at[resets.front()]);
        EXPECT_LT(c.limitMs - lastReset, 2 * c.periodMs) << "a period went by without a reset";
        std::string between = sent.bytes;
        for (size_t i = resets.size(); i-- > 0;)
            between.erase(resets[i], kResetCommand.size());
        EXPECT_EQ(between.find_first_not_of('\x55'), std::string::npos)
            << "only the fill between the commands";
        UnregisterSimPort(portName_);
    }
}

TEST_F(LoadWire, SleepVariantWaitsAfterItsCommandBeforeTheFillResumes)
{
    StartReceiver();
    auto request = Request(kSoftBreakCapture, RamFile({true, 20, "", 100}), "");
    request->softBreakVariant = 1;
    request->timing.sleepVariantMs = 150;
    ASSERT_EQ(Run(*request), LOAD_OK);
    const wire::Timeline sent = FromPc();
    const std::vector<size_t> sleeps = sent.Find(kSleepCommand);
    ASSERT_EQ(sleeps.size(), 1u) << "captured at the first command";
    EXPECT_TRUE(sent.Find(kResetCommand).empty());
    const size_t next = sleeps[0] + kSleepCommand.size();
    ASSERT_LT(next, sent.bytes.size());
    EXPECT_EQ(sent.bytes[next], '\x55');
    EXPECT_GE(Ms(sent.GapBefore(next)), Pause(150));
}

TEST_F(LoadWire, HardwareResetRaisesDtrForOneZeroByteAt115200ThenReturnsToTheLoadRate)
{
    StartReceiver();
    auto request = Request(kHardwareReset, RamFile({true, 20, "", 100}), "");
    request->baudRate = 57600;
    ASSERT_EQ(Run(*request), LOAD_OK);
    const std::vector<WireEvent> wire = Wire();
    const SimTime raised = wire::First(wire, Kind::Dtr, 1);
    const SimTime dropped = wire::First(wire, Kind::Dtr, 0, raised);
    ASSERT_NE(dropped, kSimNever);
    std::string duringPulse;
    for (const WireEvent& event : wire)
        if (event.kind == Kind::FromPc && event.at >= raised && event.at <= dropped)
            duringPulse.push_back(static_cast<char>(event.value));
    EXPECT_EQ(duringPulse, std::string(1, '\0'));
    EXPECT_EQ(wire::RateAt(wire, raised), 115200u);
    const SimTime firstFill = wire::First(wire, Kind::FromPc, boot::kCaptureFill);
    EXPECT_GT(firstFill, dropped);
    EXPECT_EQ(wire::RateAt(wire, firstFill), 57600u) << "the fill goes at the load's rate";
}

// ---- Handshake and verdict -------------------------------------------------------------

TEST_F(LoadWire, FourHandshakeBytes50MsApartThenTheVerdictAfterTheDevicesVersion)
{
    StartReceiver(PowerOnAfter(200));
    const std::vector<uint8_t> ram = BuildRamImage({true, 20, "", 100});
    auto request = Request(kPowerOnCapture, WriteFile("ram.ldr", ram), "");
    ASSERT_EQ(Run(*request), LOAD_OK);

    std::string expected = kHandshake + "\x01" + std::string(ram.begin(), ram.end());
    const uint32_t checksum = boot::RamChecksum(0, ram.data(), ram.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        expected.push_back(static_cast<char>(checksum >> shift));
    EXPECT_EQ(SentAfterCapture(), expected);

    const std::vector<SimTime> handshakes = HandshakeTimes();
    ASSERT_EQ(handshakes.size(), 4u);
    for (size_t i = 1; i < handshakes.size(); ++i)
        EXPECT_GE(Ms(handshakes[i] - handshakes[i - 1]), Pause(request->timing.handshakeGapMs)) << i;
    // The device's identifier 20 and procedure version 0 come before the verdict.
    const std::vector<WireEvent> wire = Wire();
    const SimTime verdict = wire::First(wire, Kind::FromPc, boot::kProceed, handshakes.back());
    const std::string answered = wire::Bytes(wire, Kind::ToPc, handshakes.front());
    const size_t identified = answered.find(std::string("\x14\x00", 2));
    ASSERT_NE(identified, std::string::npos);
    EXPECT_EQ(answered.find_first_not_of('\x15'), identified) << "request bytes before the identifier";
    EXPECT_LT(wire::First(wire, Kind::ToPc, 0x14, handshakes.back()), verdict);
}

// ---- Reset-only runs -------------------------------------------------------------------

TEST_F(LoadWire, ResetOnlyRunSendsJustTheRestartOfItsCaptureMethod)
{
    struct Case {
        int method;
        int variant;
        uint32_t rate;
        std::string sent;
    };
    const Case cases[] = {
        {kPowerOnCapture, 0, 115200, ""},
        {kSoftBreakCapture, 0, 115200, kResetCommand},
        {kSoftBreakCapture, 1, 115200, kSleepCommand},
        {kHardwareReset, 0, 57600, std::string(1, '\0')},
    };
    for (const Case& c : cases) {
        StartReceiver();
        auto request = Request(c.method, "", "");
        request->softBreakVariant = c.variant;
        request->baudRate = c.rate;
        EXPECT_EQ(Run(*request), LOAD_OK) << c.method;
        const std::vector<WireEvent> wire = Wire();
        EXPECT_EQ(wire::Bytes(wire, Kind::FromPc), c.sent) << c.method << "/" << c.variant;
        EXPECT_EQ(wire::Bytes(wire, Kind::ToPc), "") << c.method;
        if (c.method == kHardwareReset) {
            EXPECT_EQ(wire::RateAt(wire, wire::First(wire, Kind::FromPc, 0)), 115200u);
            EXPECT_EQ(wire::Values(wire, Kind::Rate).back(), 57600u);
        }
        if (c.method != kPowerOnCapture) {
            EXPECT_EQ(model_->CurrentMode(), ReceiverModel::Mode::BootWindow) << "the device restarted";
        }
        UnregisterSimPort(portName_);
    }
}

// ---- Failures --------------------------------------------------------------------------

TEST_F(LoadWire, CableLostAfterCaptureFailsTheHandshakeBeforeAnyHandshakeByte)
{
    StartReceiver(PowerOnAfter(200));
    LastTexts texts(status_);
    auto request = Request(kPowerOnCapture, RamFile(), "");
    LineFaults pulled;
    pulled.disconnectAfter = 0;
    texts.When("Captured", [&] {
        model_->SetFaults(pulled);
        // The device is gone once it hears anything; the loader learns it from the line.
        const uint8_t probe = 0x55;
        model_->Hear(&probe, 1, SerialLineSettings{}, SimNow());
    });
    EXPECT_EQ(Run(*request), LOAD_HANDSHAKE_ERROR);
    EXPECT_TRUE(texts.Saw("Handshaking error"));
    EXPECT_TRUE(HandshakeTimes().empty());
}

// Found by a write that fails (the rest of the frame) rather than by the reply's wait, a
// device that vanished mid-frame is still named as lost before the stage's own error.
TEST_F(LoadWire, DeviceVanishingInTheMiddleOfAFrameIsALostConnection)
{
    StartReceiver(PowerOnAfter(200));
    LastTexts texts(status_);
    auto request = Request(kPowerOnCapture, RamFile({true, 20, "", 100}), FlashFile({20, "9.0", 4000, true}));
    LineFaults vanishing;
    vanishing.disconnectAfter = 100; // inside the first frame's block
    texts.When("Flash file loading...", [&] { model_->SetFaults(vanishing); });
    EXPECT_EQ(Run(*request), LOAD_FLASH_ERROR);
    EXPECT_TRUE(texts.Saw("Lost connection with port " + portName_));
    EXPECT_EQ(status_.Text(), "Error in Flash file loading");
}

// A boot loader that falls silent after the capture never names itself: the refusal 0x00
// still goes out. One that vanishes as the fourth handshake byte arrives cannot even be
// told that.
TEST_F(LoadWire, VersionCheckFailuresAndTheVerdictOnTheWire)
{
    struct Case {
        LineFaults afterCapture;
        const char* lastText;
        std::string sent;
    };
    LineFaults silent;
    silent.silent = true;
    LineFaults vanishing;
    vanishing.disconnectAfter = 3;
    const Case cases[] = {
        {silent, "Get device version error", kHandshake + '\0'},
        {vanishing, "Acknowledge error", kHandshake},
    };
    for (const Case& c : cases) {
        StartReceiver(PowerOnAfter(200));
        LastTexts texts(status_);
        auto request = Request(kPowerOnCapture, RamFile(), "");
        request->timing.replyTimeoutMs = 300;
        texts.When("Captured", [&] { model_->SetFaults(c.afterCapture); });
        EXPECT_EQ(Run(*request), LOAD_VERSION_ERROR) << c.lastText;
        EXPECT_EQ(status_.Text(), c.lastText);
        EXPECT_EQ(SentAfterCapture(), c.sent) << c.lastText;
        UnregisterSimPort(portName_);
    }
}

TEST_F(LoadWire, ResetCommandHeldByFlowControlTimesOutWithGenericError)
{
    ReceiverConfig config;
    config.powerOffMs = 60000; // switched off: CTS stays down
    StartReceiver(config);
    model_->PowerCycle(SimNow());
    portTiming_.writeTotalMultiplierMs = 10;
    auto request = Request(kSoftBreakCapture, "", "");
    request->flowControl = 1;
    EXPECT_EQ(Run(*request), LOAD_GENERIC_ERROR);
    EXPECT_EQ(status_.Text(), "Timeout sending Software Reset command");
    EXPECT_EQ(wire::Bytes(Wire(), Kind::FromPc), "") << "not one byte of the command went out";
}

// ---- The shipped timing ------------------------------------------------------------------

TEST_F(LoadWire, ShippedPausesOnTheWire)
{
    StartReceiver();
    auto request =
        Request(kSoftBreakCapture, RamFile({true, 20, "", 100}), FlashFile({20, "3.3", 600, true}));
    request->softBreakVariant = 1;
    request->timing = LoadTiming{};
    ASSERT_EQ(Run(*request), LOAD_OK);
    const wire::Timeline sent = FromPc();
    const std::vector<size_t> sleeps = sent.Find(kSleepCommand);
    ASSERT_EQ(sleeps.size(), 2u) << "the capture's and the final reset";
    EXPECT_GE(Ms(sent.GapBefore(sleeps[0] + kSleepCommand.size())), Pause(100));
    const SimTime captured = CapturedAt();
    const std::vector<SimTime> handshakes = HandshakeTimes();
    ASSERT_EQ(handshakes.size(), 4u);
    EXPECT_GE(Ms(handshakes[0] - captured), Pause(200));
    for (size_t i = 1; i < handshakes.size(); ++i)
        EXPECT_GE(Ms(handshakes[i] - handshakes[i - 1]), Pause(50)) << i;
}
