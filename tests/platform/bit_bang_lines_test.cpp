#include "platform/c_bit_bang_lines.h"
#include "platform/ftdi_bit_bang_port.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kestrum;

namespace {

// Records what the lines ask of the adapter and answers with planned samples.
class RecordingPort : public IBitBangPort {
public:
    bool Open(const UsbDeviceLocation& device, uint8_t driven, uint32_t statesPerSecond) override
    {
        opened = device.bus == 2 && device.address == 9 && statesPerSecond == 100000;
        outputs = driven;
        return opened;
    }
    Transfer Exchange(std::span<const uint8_t> states, std::span<uint8_t> samples) override
    {
        transfers.emplace_back(states.begin(), states.end());
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = i < planned.size() ? planned[i] : 0xFF;
        return answer;
    }
    void Close() override { opened = false; }
    std::string LastError() const override { return "the adapter has gone"; }

    bool opened = false;
    uint8_t outputs = 0;
    std::vector<std::vector<uint8_t>> transfers;
    std::vector<uint8_t> planned;
    Transfer answer = Transfer::Done;
};

} // namespace

// D0 TXD, D2 RTS#, D4 DTR# driven, each "on" low as in UART mode, so the cable carries the
// same signals; DSR# (D5) and CTS# (D3) low read as on. A read takes the sample of the
// state after it, and one at the end of a batch gets the last state once more.
TEST(BitBangLines, EachChangeIsOnePinStateAtTheLevelsOfTheSerialPort)
{
    auto owned = std::make_unique<RecordingPort>();
    RecordingPort& port = *owned;
    CBitBangLines lines(std::move(owned));
    ASSERT_TRUE(lines.Open({2, 9, 0}, 100000));
    EXPECT_EQ(port.outputs, 0x15);
    ASSERT_EQ(port.transfers.size(), 1u);
    EXPECT_EQ(port.transfers[0], std::vector<uint8_t>{0xFF}) << "every line off first";

    SerialLineBatch batch;
    batch.SetDtr(true);
    batch.SetRts(true);
    batch.ReadModem();
    batch.SetBreak(true);
    batch.SetRts(false);
    batch.ReadModem();
    port.planned = {0xFF, 0xFF, 0xD7, 0xFF, 0xFF}; // DSR# and CTS# low before the break
    const LineBatchResult result = lines.Run(batch, {});

    ASSERT_TRUE(result.Completed()) << result.error;
    EXPECT_EQ(port.transfers.back(), (std::vector<uint8_t>{0xEF, 0xEB, 0xEA, 0xEE, 0xEE}));
    ASSERT_EQ(result.reads.size(), 2u);
    EXPECT_TRUE(result.reads[0].dsr && result.reads[0].cts);
    EXPECT_FALSE(result.reads[1].dsr || result.reads[1].cts);
    EXPECT_EQ(lines.StatesWritten(), 6u);

    // The stop check comes before a transfer; an adapter that goes ends the batch as gone.
    EXPECT_EQ(lines.Run(batch, [] { return true; }).end, LineBatchResult::End::Stopped);
    EXPECT_EQ(port.transfers.size(), 2u);
    port.answer = IBitBangPort::Transfer::Gone;
    const LineBatchResult gone = lines.Run(batch, [] { return false; });
    EXPECT_EQ(gone.end, LineBatchResult::End::Gone);
    EXPECT_EQ(gone.error, "the adapter has gone");
    EXPECT_TRUE(gone.reads.empty());
    lines.Close();
    EXPECT_FALSE(port.opened);
}

// The adapter's own port (libftdi1's, or in a build without it the one that says so): a USB
// device that is not there is refused with a reason, and nothing is held.
TEST(FtdiBitBangPort, AnAdapterThatIsNotThereIsRefusedWithItsReason)
{
    std::unique_ptr<IBitBangPort> port = CreateFtdiBitBangPort();
    EXPECT_FALSE(port->Open({999, 999, 0}, 0x15, CBitBangLines::kDefaultStatesPerSecond));
    EXPECT_FALSE(port->LastError().empty());
    std::vector<uint8_t> states{0xFF}, samples(1);
    EXPECT_EQ(port->Exchange(states, samples), IBitBangPort::Transfer::Failed);
    port->Close();
}
