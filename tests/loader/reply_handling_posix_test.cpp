// How the Flash stage reads the device's answers when several bytes arrive together, with
// the test as the device on a pseudo-terminal; the Windows build leaves this file out.
#include "link/pty_pair.h"

#include "link/c_serial_port.h"
#include "loader/block_sender.h"
#include "loader/boot_protocol.h"
#include "loader/c_load_line.h"
#include "platform/c_stopwatch.h"
#include "platform/tick_count.h"

#include <gtest/gtest.h>

#include <thread>

using namespace kestrum;
using namespace kestrum::test;

namespace {

enum class Timing { AlreadyWaiting, DuringTheWait };

// A BlockSender on a pseudo-terminal, with the test as the device on the master side.
class PtyTransfer {
public:
    PtyTransfer()
    {
        request_.portName = pty_.SlaveName();
        port_ = std::make_unique<CSerialPort>(pty_.SlaveName(), SerialPortTiming{});
        line_ = std::make_unique<CLoadLine>(*port_, request_, status_);
    }
    ~PtyTransfer() { ClosePort(std::move(port_)); }

    bool Ready() const { return pty_.Ok() && port_->GetHandle() != nullptr; }
    PtyPair& Device() { return pty_; }
    CLoadLine& Line() { return *line_; }

    std::unique_ptr<BlockSender> OpenSender()
    {
        pty_.WriteAll("\x15");
        return std::make_unique<BlockSender>(line_.get(), &watch_, 2000, boot::kBlockLength);
    }

    // Finishes the transfer with the device answering the end frame with burst, written
    // either before the frame goes out or once the whole frame has been read.
    bool FinishAnsweredWith(BlockSender& sender, const std::string& burst, Timing timing)
    {
        if (timing == Timing::AlreadyWaiting) {
            pty_.WriteAll(burst);
            return sender.Finish();
        }
        std::thread device([&] {
            pty_.Read(boot::kFrameLength);
            SleepMs(50);
            pty_.WriteAll(burst);
        });
        const bool finished = sender.Finish();
        device.join();
        return finished;
    }

private:
    PtyPair pty_;
    LoadRequest request_;
    CStatusChannel status_;
    std::unique_ptr<CSerialPort> port_;
    std::unique_ptr<CLoadLine> line_;
    const CStopwatch watch_;
};

}  // namespace

TEST(FlashReplies, LastReplyByteOfABurstCountsAndTheBytesBehindItStay)
{
    struct Case {
        std::string burst;
        bool accepted;
        int left;  // the byte the next read gets, -1 for none
    };
    const Case cases[] = {
        {"\x06\x1E", true, 0x1E},       // end frame taken, final acknowledgement right behind
        {"\x15\x06", true, -1},         // a stale resend request before the acceptance
        {"\x1E\x06", true, -1},         // a meaningless byte before it is dropped
        {std::string("\x06\x25", 2), false, -1},  // an error byte after it fails the frame
    };
    for (const Timing timing : {Timing::AlreadyWaiting, Timing::DuringTheWait}) {
        for (const Case& c : cases) {
            PtyTransfer transfer;
            ASSERT_TRUE(transfer.Ready());
            auto sender = transfer.OpenSender();
            ASSERT_EQ(sender->GetState(), BlockSender::kOpen);
            const std::string trace = "burst of " + std::to_string(c.burst.size()) + " starting " +
                                      std::to_string(static_cast<uint8_t>(c.burst[0])) +
                                      (timing == Timing::AlreadyWaiting ? ", waiting" : ", during the wait");
            EXPECT_EQ(transfer.FinishAnsweredWith(*sender, c.burst, timing), c.accepted) << trace;
            uint8_t next = 0;
            const bool more = transfer.Line().ReadByte(100, next) == CLoadLine::ReadResult::Byte;
            EXPECT_EQ(more ? next : -1, c.left) << trace;
        }
    }
}
