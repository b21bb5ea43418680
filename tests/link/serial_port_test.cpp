#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "link/c_serial_port.h"
#include "link_test_support.h"
#include "pty_pair.h"

namespace kestrum {
namespace {

using test::Eventually;
using test::MsSince;
using test::PtyPair;

// Short pauses keep the suite quick; ClosePort's own 200 ms settle is not affected.
SerialPortTiming FastTiming()
{
    SerialPortTiming timing;
    timing.rateSettleMs = 0;
    return timing;
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.Ok());
        port = std::make_unique<CSerialPort>(pty.SlaveName(), FastTiming());
        ASSERT_NE(port->GetHandle(), nullptr) << port->LastError();
    }
    void TearDown() override { ClosePort(std::move(port)); }

    uint32_t WriteText(const std::string& text)
    {
        return port->Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
    }

    PtyPair pty;
    std::unique_ptr<CSerialPort> port;
};

TEST(SerialPortOpen, MissingDeviceFailsWithItsText)
{
    const std::string name = "/dev/kestrum-no-such-port";
    CSerialPort port(name);
    EXPECT_EQ(port.GetHandle(), nullptr);
    EXPECT_EQ(port.LastError(), "Open " + name + " port failed");
    EXPECT_EQ(port.StatusChannel().Text(), port.LastError());
    bool open = true;
    port.IsOpen(open);
    EXPECT_FALSE(open);
    // A port that is not open never touches a device and refuses everything.
    EXPECT_FALSE(port.SetBaudRate(9600));
    EXPECT_EQ(port.Write(reinterpret_cast<const uint8_t*>("x"), 1), 0u);
    EXPECT_EQ(port.GetHandshake(), 0);
    EXPECT_FALSE(port.ToggleRts());
    EXPECT_FALSE(port.ReadSettings());
}

TEST(SerialPortOpen, FileThatIsNoSerialDeviceIsNotAPort)
{
    CSerialPort port("/dev/null");
    EXPECT_EQ(port.GetHandle(), nullptr);
    EXPECT_EQ(port.LastError(), "Open /dev/null port failed");
}

TEST(SerialPortOpen, PortHeldByAnotherPortIsBusy)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    auto first = std::make_unique<CSerialPort>(pty.SlaveName());
    ASSERT_NE(first->GetHandle(), nullptr);
    auto second = std::make_unique<CSerialPort>(pty.SlaveName());
    EXPECT_EQ(second->GetHandle(), nullptr);
    EXPECT_EQ(second->LastError(), "Port " + pty.SlaveName() + " is busy");
    ClosePort(std::move(second));
    ClosePort(std::move(first));
    // Free again once closed.
    CSerialPort third(pty.SlaveName());
    EXPECT_NE(third.GetHandle(), nullptr);
}

TEST_F(SerialPortTest, OpenLeavesABinaryLineAt115200)
{
    EXPECT_EQ(port->GetPortName(), pty.SlaveName());
    EXPECT_EQ(port->Settings().port, pty.SlaveName());
    EXPECT_EQ(port->GetBaudRate(), 115200u);
    const termios2 tio = pty.SlaveTermios();
    EXPECT_EQ(tio.c_ospeed, 115200u);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST_F(SerialPortTest, EveryRateOfTheTableReachesTheDevice)
{
    for (uint32_t rate : port->Rates()) {
        ASSERT_TRUE(port->SetBaudRate(rate)) << rate << ": " << port->LastError();
        EXPECT_EQ(pty.SlaveRate(), rate);
        EXPECT_EQ(port->GetBaudRate(), rate);
        EXPECT_EQ(port->StatusChannel().Text(), "Set port speed to " + std::to_string(rate));
    }
    EXPECT_EQ(port->Rates().size(), 15u);
    EXPECT_EQ(port->LastError(), "");
}

TEST_F(SerialPortTest, ReplyTimeoutFollowsTheRateTable)
{
    EXPECT_EQ(port->ReplyTimeout(300), 3000u);
    EXPECT_EQ(port->ReplyTimeout(600), 2400u);
    EXPECT_EQ(port->ReplyTimeout(1200), 1500u);
    EXPECT_EQ(port->ReplyTimeout(9600), 900u);
    EXPECT_EQ(port->ReplyTimeout(115200), 300u);
    EXPECT_EQ(port->ReplyTimeout(1000), 300u);
}

TEST_F(SerialPortTest, HandshakeRoundTrips)
{
    EXPECT_NE(port->SetHandshake(1), 0);
    EXPECT_EQ(port->GetHandshake(), 1);
    EXPECT_NE(pty.SlaveTermios().c_cflag & CRTSCTS, 0u);
    EXPECT_NE(port->SetHandshake(2), 0);
    EXPECT_EQ(port->GetHandshake(), 2);
    EXPECT_EQ(pty.SlaveTermios().c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(pty.SlaveTermios().c_cflag & CRTSCTS, 0u);
    EXPECT_NE(port->SetHandshake(0), 0);
    EXPECT_EQ(port->GetHandshake(), 0);
    EXPECT_NE(port->SetHandshake(7), 0); // unknown mode: state written back as read
    EXPECT_EQ(port->GetHandshake(), 0);
}

TEST_F(SerialPortTest, LineShapeSettersRefuseBadValuesAndKeepOtherFields)
{
    ASSERT_TRUE(port->SetBaudRate(19200));
    EXPECT_FALSE(port->SetWordLength(4));
    EXPECT_FALSE(port->SetWordLength(9));
    EXPECT_FALSE(port->SetParity(3));
    EXPECT_FALSE(port->SetParity(-1));
    EXPECT_FALSE(port->SetStopBits(0));
    EXPECT_TRUE(port->SetWordLength(8));
    EXPECT_TRUE(port->SetParity(0));
    EXPECT_TRUE(port->SetStopBits(2));
    const termios2 tio = pty.SlaveTermios();
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_ospeed, 19200u);

    ASSERT_TRUE(port->SetHandshake(1));
    ASSERT_TRUE(port->ReadSettings());
    const PortSettings& settings = port->Settings();
    EXPECT_EQ(settings.speed, 19200);
    EXPECT_EQ(settings.wordLength, 3);
    EXPECT_EQ(settings.parity, 0);
    EXPECT_EQ(settings.stopBits, 1);
    EXPECT_EQ(settings.handshaking, 1);
    EXPECT_EQ(settings.rtsLow, port->RtsState() ? 0 : 1);
    EXPECT_EQ(settings.dtrLow, port->DtrState() ? 0 : 1);
    EXPECT_EQ(settings.ctsLow, 1); // no modem lines on a pseudo-terminal
}

TEST_F(SerialPortTest, ShapeTheDeviceCannotCarryIsRefusedNotFaked)
{
    // A pseudo-terminal always carries 8 data bits without parity.
    EXPECT_FALSE(port->SetWordLength(7));
    EXPECT_FALSE(port->SetParity(2));
    const termios2 tio = pty.SlaveTermios();
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_ospeed, 115200u);
}

TEST_F(SerialPortTest, ReadAvailableWithNothingReturnsZeroAtOnce)
{
    uint8_t buffer[64];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port->ReadAvailable(buffer, sizeof buffer), 0u);
    EXPECT_LT(MsSince(start), 1000);

    ASSERT_TRUE(pty.WriteAll("hello"));
    ASSERT_TRUE(Eventually([&] { return port->GetHandle()->InputQueued() == 5; }));
    EXPECT_EQ(port->ReadAvailable(buffer, 3), 3u);
    EXPECT_EQ(port->ReadAvailable(buffer + 3, sizeof buffer - 3), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "hello");
}

TEST_F(SerialPortTest, WaitQueueLooksOnceOrPolls)
{
    EXPECT_TRUE(port->WaitQueue(0, true));
    EXPECT_TRUE(port->WaitQueue(0, false));
    EXPECT_TRUE(port->WaitQueue(-1, true));  // nothing written: output empty
    EXPECT_TRUE(port->WaitQueue(-1, false)); // nothing received: input empty
    EXPECT_FALSE(port->WaitQueue(30, false));
    ASSERT_TRUE(pty.WriteAll("x"));
    EXPECT_TRUE(port->WaitQueue(5000, false));
    EXPECT_FALSE(port->WaitQueue(-1, false));
    EXPECT_TRUE(port->WaitQueue(5000, true));
}

TEST_F(SerialPortTest, BlockingWriteDeliversAndPurgeOutputKeepsWhatLeft)
{
    const std::string command = "set,cur/term/rate,57600\n";
    EXPECT_EQ(WriteText(command), command.size());
    // The far end has not read yet; the bytes have left the port all the same.
    port->PurgeOutput();
    port->PurgeAll();
    EXPECT_EQ(pty.Read(command.size()), command);
}

TEST_F(SerialPortTest, SendLineEmptiesTheReceiveBufferAndAddsNewline)
{
    port->ReceiveBuffer().Append(reinterpret_cast<const uint8_t*>("old"), 3);
    EXPECT_EQ(port->SendLine("print,/par/cur/term/rate"), 25u);
    EXPECT_EQ(port->ReceiveBuffer().Length(), 0u);
    EXPECT_EQ(pty.Read(25), "print,/par/cur/term/rate\n");
}

TEST_F(SerialPortTest, WriteTimedGivesUpWhenTheFarEndStopsReading)
{
    std::string block(64 * 1024, 'z');
    uint32_t accepted = 0;
    // Fill the line until a timed write can no longer finish.
    for (int i = 0; i < 20; ++i) {
        accepted = port->WriteTimed(reinterpret_cast<const uint8_t*>(block.data()),
                                    static_cast<uint32_t>(block.size()), 20);
        if (accepted == 0)
            break;
    }
    EXPECT_EQ(accepted, 0u);
    EXPECT_EQ(port->WriteTimed(reinterpret_cast<const uint8_t*>(block.data()), 0, 20), 0u);
}

TEST_F(SerialPortTest, UnconsumedReceptionKeepsTheFirst8192Bytes)
{
    port->StartReceive();
    std::string data;
    for (int i = 0; i < 10000; ++i)
        data += static_cast<char>('A' + i % 23);
    ASSERT_TRUE(pty.WriteAll(data));
    ASSERT_TRUE(Eventually([&] { return port->GetHandle()->InputQueued() == 0; }));
    ASSERT_TRUE(Eventually([&] { return port->ReceiveBuffer().Length() == 8192; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(port->ReceiveBuffer().Contents(), data.substr(0, 8192));
}

TEST_F(SerialPortTest, WriteWhileTheWorkerWaitsForEvents)
{
    port->StartReceive();
    const std::string outgoing(3000, 'o');
    const std::string incoming(3000, 'i');
    std::string farEndGot;
    std::thread farEnd([&] {
        pty.WriteAll(incoming);
        farEndGot = pty.Read(outgoing.size());
    });
    EXPECT_EQ(WriteText(outgoing), outgoing.size());
    farEnd.join();
    EXPECT_EQ(farEndGot, outgoing);
    ASSERT_TRUE(Eventually([&] { return port->ReceiveBuffer().Length() == incoming.size(); }));
    EXPECT_EQ(port->ReceiveBuffer().Contents(), incoming);
}

TEST_F(SerialPortTest, ModemLineTogglesFlipBackWhenTheDeviceHasNone)
{
    // A pseudo-terminal has no modem lines: the toggle fails and the state is kept.
    const bool rts = port->RtsState();
    const bool dtr = port->DtrState();
    EXPECT_FALSE(port->ToggleRts());
    EXPECT_FALSE(port->ToggleDtr());
    EXPECT_EQ(port->RtsState(), rts);
    EXPECT_EQ(port->DtrState(), dtr);
}

TEST(SerialPortClose, TakesAbout400MsWhenReceptionNeverStarted)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    auto port = std::make_unique<CSerialPort>(pty.SlaveName());
    ASSERT_NE(port->GetHandle(), nullptr);
    const auto start = std::chrono::steady_clock::now();
    ClosePort(std::move(port));
    const long ms = MsSince(start);
    EXPECT_GE(ms, 390);
    EXPECT_LT(ms, 3000);
    ClosePort(nullptr); // ignored
}

TEST(SerialPortClose, ReleasesAWorkerBlockedInItsEventWait)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    auto port = std::make_unique<CSerialPort>(pty.SlaveName());
    port->StartReceive();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = std::chrono::steady_clock::now();
    ClosePort(std::move(port));
    EXPECT_LT(MsSince(start), 3000);
}

TEST(SerialPortGone, FarEndClosingEndsTheWaitAndTheWorker)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    auto port = std::make_unique<CSerialPort>(pty.SlaveName());
    port->StartReceive();
    ASSERT_TRUE(pty.WriteAll("last words"));
    ASSERT_TRUE(Eventually([&] { return port->ReceiveBuffer().Length() == 10; }));
    pty.CloseMaster();
    ASSERT_TRUE(Eventually([&] { return port->LastError().starts_with("I/O error ("); }))
        << port->LastError();
    EXPECT_EQ(port->ReceiveBuffer().Contents(), "last words");

    // Nothing spins on the dead line: the process stays nearly idle.
    const std::clock_t cpuBefore = std::clock();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC, 0.25);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port->Write(reinterpret_cast<const uint8_t*>("x"), 1), 0u);
    EXPECT_FALSE(port->WaitQueue(5000, true));
    EXPECT_LT(MsSince(start), 3000);
    ClosePort(std::move(port));
}

TEST(SerialPortGone, BlockingWriteEndsWhenTheFarEndGoesMidWrite)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    auto port = std::make_unique<CSerialPort>(pty.SlaveName());
    // Far more than the pty holds: the write waits for a reader that never comes.
    const std::string block(256 * 1024, 'w');
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        pty.CloseMaster();
    });
    const auto start = std::chrono::steady_clock::now();
    const uint32_t sent =
        port->Write(reinterpret_cast<const uint8_t*>(block.data()), static_cast<uint32_t>(block.size()));
    closer.join();
    EXPECT_LT(sent, block.size());
    EXPECT_LT(MsSince(start), 5000);
    EXPECT_TRUE(port->LastError().starts_with("I/O error (")) << port->LastError();
    ClosePort(std::move(port));
}

} // namespace
} // namespace kestrum
