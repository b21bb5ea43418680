#include "model_driver.h"
#include "sim/image_layout.h"
#include "sim/receiver_model.h"

#include <gtest/gtest.h>

using namespace kestrum;
using namespace kestrum::test;

namespace {

constexpr uint8_t kReq = 0x15;
constexpr uint8_t kAck = 0x06;

// Drives a receiver the way a correct loader does, one stage at a time.
class LoadDriver {
public:
    explicit LoadDriver(const ReceiverConfig& config = {}, uint32_t rate = 115200)
        : receiver(std::make_shared<ReceiverModel>(config)), pc(receiver, rate)
    {
    }

    // Soft-break capture: the reset command, then the 0x55 stream.
    std::vector<uint8_t> Capture()
    {
        pc.Say("##\n##\nset,reset,yes\n");
        pc.Pass(5);
        pc.Send(std::vector<uint8_t>(64, 0x55));
        return pc.CollectBytes(200);
    }
    std::vector<uint8_t> Handshake()
    {
        for (int i = 0; i < 4; ++i) {
            pc.Send(0x06);
            pc.Pass(50);
        }
        return pc.CollectBytes();
    }
    std::vector<uint8_t> RamImage(const std::vector<uint8_t>& image)
    {
        pc.Send(0x01);
        pc.Send(WithChecksum(image));
        return pc.CollectBytes();
    }
    // Sends the Flash image in frames, each at most three times while the device asks for it
    // again; returns the replies to each frame.
    std::vector<std::vector<uint8_t>> FlashImage(const std::vector<uint8_t>& image)
    {
        std::vector<std::vector<uint8_t>> replies;
        uint16_t chain = 0;
        size_t at = 0;
        uint16_t counter = 0;
        for (;;) {
            const bool last = image.size() - at < boot::kBlockLength;
            const uint16_t count = last ? static_cast<uint16_t>(image.size() - at) : boot::kBlockLength;
            uint16_t crc = 0;
            const std::vector<uint8_t> frame = last ? MakeFrame(boot::kEndFrame, count, image.data() + at, count, chain, &crc)
                                                    : MakeFrame(boot::kDataFrame, counter, &image[at], count, chain, &crc);
            std::vector<uint8_t> reply;
            for (int sending = 0; sending < 3 && (reply.empty() || reply.back() == kReq); ++sending) {
                pc.Send(frame);
                const std::vector<uint8_t> got = pc.CollectBytes(20);
                reply.insert(reply.end(), got.begin(), got.end());
            }
            replies.push_back(reply);
            if (last || reply.empty() || reply.back() != kAck)
                return replies;
            chain = crc;
            ++counter;
            at += count;
        }
    }
    // Capture, handshake and verdict up to the RAM image.
    void UpToRamImage()
    {
        Capture();
        Handshake();
    }
    // ... and a RAM image, up to the Flash blocks.
    void UpToFlashImage()
    {
        UpToRamImage();
        RamImage(BuildRamImage(RamImageSpec{true, 20, "", 3000}));
    }

    std::shared_ptr<ReceiverModel> receiver;
    ModelDriver pc;
};

std::vector<uint8_t> DemoRam(bool finalAck = true)
{
    return BuildRamImage(RamImageSpec{finalAck, 20, "", 3000});
}

std::vector<uint8_t> DemoFlash(const std::string& version, size_t payload = 1500)
{
    return BuildFlashImage(FlashImageSpec{20, version, payload, true});
}

}  // namespace

TEST(ReceiverBootLoader, CaptureHandshakeAndVersionCheckBytes)
{
    LoadDriver load;
    const std::vector<uint8_t> capture = load.Capture();
    ASSERT_FALSE(capture.empty());
    EXPECT_EQ(capture.front(), kReq);
    EXPECT_EQ(load.receiver->CurrentMode(), ReceiverModel::Mode::BootLoader);
    // A request byte per handshake byte, then the version check: request, identifier, version.
    EXPECT_EQ(load.Handshake(), Bytes({kReq, kReq, kReq, kReq, 20, 0}));
}

TEST(ReceiverBootLoader, CaptureWorksAtTheLoadersRateWhateverTheCommandRate)
{
    ReceiverConfig config;
    config.commands.rate = 9600;
    LoadDriver load(config, 9600);
    load.pc.Say("##\n##\nset,reset,yes\n");
    load.pc.Pass(5);
    load.pc.SetRate(57600);  // the boot loader takes the rate of the capture stream
    load.pc.Send(std::vector<uint8_t>(64, 0x55));
    EXPECT_EQ(load.pc.CollectBytes().front(), kReq);
    EXPECT_EQ(load.Handshake().back(), 0);
}

TEST(ReceiverBootLoader, FullLoadRestartsIntoTheNewFirmware)
{
    LoadDriver load;
    load.UpToRamImage();
    EXPECT_EQ(load.RamImage(DemoRam()), Bytes({0x1E, kReq}));  // acknowledged; Flash receiver asks
    const std::vector<uint8_t> flash = DemoFlash("9.9 Dec,07,2026", 1500);
    const auto replies = load.FlashImage(flash);
    ASSERT_EQ(replies.size(), 3u);  // 1524 bytes: two full blocks, then an end frame of 500
    for (const auto& reply : replies)
        EXPECT_EQ(reply, Bytes({kAck}));
    // The final acknowledgement comes only after the Flash has been written.
    EXPECT_EQ(load.pc.CollectBytes(250), Bytes({0x1E}));
    EXPECT_EQ(load.receiver->FlashContents(), flash);
    EXPECT_EQ(load.receiver->LoadsCompleted(), 1);
    load.pc.Pass(2000);
    EXPECT_EQ(load.receiver->CurrentMode(), ReceiverModel::Mode::Firmware);
    load.pc.Say("##\n%FRMWR%print,/par/version/main\n");
    EXPECT_EQ(load.pc.Collect(), "RE016%FRMWR%9.9 Dec,07,2026");
}

TEST(ReceiverBootLoader, EmptyRamImageAndEmptyFlashImage)
{
    LoadDriver load;
    load.UpToRamImage();
    EXPECT_EQ(load.RamImage({}), Bytes({0x1E, kReq}));
    const auto replies = load.FlashImage({});
    EXPECT_EQ(replies, std::vector<std::vector<uint8_t>>{Bytes({kAck})});
    EXPECT_EQ(load.pc.CollectBytes(250), Bytes({0x1E}));  // an empty RAM image asks for it
    EXPECT_EQ(load.receiver->FirmwareVersion(), "unknown");
}

TEST(ReceiverBootLoader, NoFinalAcknowledgementWhenTheImageSaysSo)
{
    LoadDriver load;
    load.UpToRamImage();
    load.RamImage(DemoRam(false));
    load.FlashImage(DemoFlash("1.0"));
    EXPECT_EQ(load.pc.CollectBytes(500), Bytes({}));
    EXPECT_EQ(load.receiver->FirmwareVersion(), "1.0");
}

TEST(ReceiverBootLoader, WrongRamChecksumOrLengthIsNotAcknowledged)
{
    LoadDriver load;
    load.UpToRamImage();
    load.pc.Send(0x01);
    std::vector<uint8_t> bytes = WithChecksum(DemoRam());
    bytes.back() ^= 1;
    load.pc.Send(bytes);
    EXPECT_EQ(load.pc.CollectBytes(), Bytes({kReq}));
    EXPECT_NE(load.receiver->LastError().find("checksum"), std::string::npos);

    LoadDriver shortImage;
    shortImage.UpToRamImage();
    shortImage.pc.Send(0x01);
    shortImage.pc.Send(Bytes({0, 0, 0, 8}));  // a length no image can have
    EXPECT_EQ(shortImage.pc.CollectBytes(), Bytes({kReq}));
    EXPECT_TRUE(shortImage.receiver->FirmwareValid());
}

TEST(ReceiverBootLoader, RefusalRestartsIntoTheOldFirmware)
{
    LoadDriver load;
    load.UpToRamImage();
    load.pc.Send(0x00);
    load.pc.Pass(2000);
    EXPECT_EQ(load.receiver->CurrentMode(), ReceiverModel::Mode::Firmware);
    EXPECT_EQ(load.receiver->FirmwareVersion(), ReceiverInfo{}.firmware);
}

TEST(ReceiverBootLoader, ChainedCrcAndFrameChecks)
{
    LoadDriver load;
    load.UpToFlashImage();
    const std::vector<uint8_t> data(512, 0xA5);
    uint16_t chain = 0;
    load.pc.Send(MakeFrame(boot::kDataFrame, 0, data.data(), 512, 0, &chain));
    EXPECT_EQ(load.pc.CollectBytes(), Bytes({kAck}));

    struct Case {
        const char* what;
        std::vector<uint8_t> frame;
        std::vector<uint8_t> reply;
    };
    std::vector<uint8_t> badTrailer = MakeFrame(boot::kDataFrame, 1, data.data(), 512, chain);
    badTrailer.back() = 0x04;
    const Case cases[] = {
        {"CRC restarted at 0", MakeFrame(boot::kDataFrame, 1, data.data(), 512, 0), Bytes({kReq})},
        {"bad trailer", badTrailer, Bytes({kReq})},
        {"counter repeated", MakeFrame(boot::kDataFrame, 0, data.data(), 512, chain), Bytes({0x22})},
    };
    for (const Case& c : cases) {
        load.pc.Send(c.frame);
        EXPECT_EQ(load.pc.CollectBytes(), c.reply) << c.what;
    }
    // An error byte ends the transfer; the erased firmware leaves only the boot loader.
    load.pc.Pass(1000);
    EXPECT_FALSE(load.receiver->FirmwareValid());
    load.pc.Pass(5000);
    EXPECT_EQ(load.receiver->CurrentMode(), ReceiverModel::Mode::BootWindow);
    load.pc.Send(std::vector<uint8_t>(40, 0x55));
    EXPECT_EQ(load.pc.CollectBytes().front(), kReq);
}

TEST(ReceiverBootLoader, FrameThatStallsHalfwayIsAskedForAgain)
{
    LoadDriver load;
    load.UpToFlashImage();
    const std::vector<uint8_t> data(512, 1);
    std::vector<uint8_t> frame = MakeFrame(boot::kDataFrame, 0, data.data(), 512, 0);
    load.pc.Send(std::vector<uint8_t>(frame.begin(), frame.begin() + 300));
    EXPECT_EQ(load.pc.CollectBytes(500), Bytes({kReq}));
    load.pc.Send(frame);
    EXPECT_EQ(load.pc.CollectBytes(), Bytes({kAck}));
}

TEST(ReceiverBootLoader, InjectedFaults)
{
    struct Case {
        const char* what;
        ReceiverConfig config;
    };
    ReceiverConfig wrongId, newProcedure;
    wrongId.receiverBoot.deviceId = 33;
    newProcedure.receiverBoot.procedureVersion = 1;
    LoadDriver a(wrongId), b(newProcedure);
    a.Capture();
    b.Capture();
    EXPECT_EQ(a.Handshake(), Bytes({kReq, kReq, kReq, kReq, 33, 0}));
    EXPECT_EQ(b.Handshake(), Bytes({kReq, kReq, kReq, kReq, 20, 1}));

    ReceiverConfig badAck;
    badAck.receiverBoot.ramAck = 0x06;
    LoadDriver c(badAck);
    c.UpToRamImage();
    EXPECT_EQ(c.RamImage(DemoRam()), Bytes({0x06, kReq}));

    const std::vector<uint8_t> flash = DemoFlash("2.0", 2000);  // frames 0..3, then the end frame
    ReceiverConfig nak;
    nak.flashFaults.nakFrame = 2;
    nak.flashFaults.nakTimes = 1;
    LoadDriver d(nak);
    d.UpToFlashImage();
    const auto replies = d.FlashImage(flash);
    EXPECT_EQ(replies[1], Bytes({kAck}));
    EXPECT_EQ(replies[2], Bytes({kReq, kAck}));
    EXPECT_EQ(replies.back(), Bytes({kAck}));
    EXPECT_EQ(d.pc.CollectBytes(300), Bytes({0x1E}));
    EXPECT_EQ(d.receiver->ResendsRequested(), 1);

    ReceiverConfig refuse;  // three refusals: a correct loader gives up
    refuse.flashFaults.nakFrame = 0;
    refuse.flashFaults.nakTimes = 3;
    LoadDriver r(refuse);
    r.UpToFlashImage();
    EXPECT_EQ(r.FlashImage(flash).front(), Bytes({kReq, kReq, kReq}));

    ReceiverConfig error;
    error.flashFaults.errorFrame = 1;
    LoadDriver e(error);
    e.UpToFlashImage();
    const auto errorReplies = e.FlashImage(flash);
    EXPECT_EQ(errorReplies[0], Bytes({kAck}));
    EXPECT_EQ(errorReplies[1], Bytes({0x25}));
    EXPECT_EQ(errorReplies.size(), 2u);
}

TEST(ReceiverBootLoader, PowerOnCaptureAndHardwareReset)
{
    ReceiverConfig config;
    config.powerCycleAfterMs = 1000;
    LoadDriver load(config);
    load.pc.Send(std::vector<uint8_t>(64, 0x55));
    EXPECT_EQ(load.pc.CollectBytes(500), Bytes({}));  // the user has not switched yet
    load.pc.Pass(600);
    EXPECT_EQ(load.receiver->CurrentMode(), ReceiverModel::Mode::Off);
    load.pc.Pass(config.powerOffMs);
    load.pc.Send(std::vector<uint8_t>(64, 0x55));
    EXPECT_EQ(load.pc.CollectBytes().front(), kReq);

    LoadDriver reset;
    reset.pc.Lines(PcLines{false, false, false});
    reset.pc.Lines(PcLines{true, false, false});
    reset.pc.Pass(1);
    reset.pc.Lines(PcLines{false, false, false});
    EXPECT_EQ(reset.receiver->CurrentMode(), ReceiverModel::Mode::BootWindow);

    LoadDriver held;  // DTR raised and left up is no reset pulse
    held.pc.Lines(PcLines{false, false, false});
    held.pc.Lines(PcLines{true, false, false});
    held.pc.Pass(2000);
    held.pc.Lines(PcLines{false, false, false});
    EXPECT_EQ(held.receiver->CurrentMode(), ReceiverModel::Mode::Firmware);
}

TEST(PowerBoard, SingleImageLoadIsReportedThroughTheReceiversPrints)
{
    ReceiverConfig config;
    config.loadTarget = LoadTarget::PowerBoard;
    LoadDriver load(config);
    load.Capture();
    EXPECT_EQ(load.Handshake(), Bytes({kReq, kReq, kReq, kReq, 22, 0}));
    EXPECT_EQ(load.RamImage(BuildRamImage(RamImageSpec{true, 22, "PB 4.2", 5000})), Bytes({0x1E}));
    load.pc.Pass(config.flashWriteMs + config.captureWindowMs + 10);
    load.pc.Say("##\n%POWER_BOARD%print,/par/rcv/ver/pow/fw\n");
    EXPECT_EQ(load.pc.Collect(), "RE013%POWER_BOARD%PB 4.2");
    EXPECT_EQ(load.receiver->FirmwareVersion(), ReceiverInfo{}.firmware);
}
