#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "link/c_serial_port.h"
#include "link/pump_messages_for.h"
#include "link_test_support.h"
#include "platform/message_pump.h"
#include "platform/serial_device_factory.h"
#include "platform/termios_serial_device.h"
#include "pty_pair.h"

namespace kestrum {
namespace {

using test::MsSince;
using test::PtyPair;

// A pseudo-terminal device with the modem lines and rate limits of a plain UART: it
// refuses 153600 baud, keeps DTR/RTS/break levels, and shows DSR/CTS set by the test.
class UartLikeDevice : public TermiosSerialDevice {
public:
    struct Lines {
        bool dtr = false, rts = false, brk = false, dsr = false, cts = false;
        int changes = 0;
        bool holdOutput = false; // as if flow control held the line
        std::string held;
    };
    explicit UartLikeDevice(Lines& lines) : lines_(lines) {}

    bool Open(const std::string& name) override
    {
        return TermiosSerialDevice::Open(name.substr(kPrefix.size()));
    }
    bool ApplySettings(const SerialLineSettings& settings) override
    {
        return settings.baudRate != 153600 && TermiosSerialDevice::ApplySettings(settings);
    }
    bool SetDtr(bool on) override { return Change(lines_.dtr, on); }
    bool SetRts(bool on) override { return Change(lines_.rts, on); }
    bool SetBreak(bool on) override { return Change(lines_.brk, on); }
    long Write(const uint8_t* data, size_t count) override
    {
        if (!lines_.holdOutput)
            return TermiosSerialDevice::Write(data, count);
        lines_.held.append(reinterpret_cast<const char*>(data), count);
        return static_cast<long>(count);
    }
    long OutputQueued() override { return static_cast<long>(lines_.held.size()); }
    void DiscardOutput() override { lines_.held.clear(); }
    bool GetModemStatus(bool& dsr, bool& cts) override
    {
        dsr = lines_.dsr;
        cts = lines_.cts;
        return true;
    }

    static inline const std::string kPrefix = "uart:";

private:
    bool Change(bool& line, bool on)
    {
        line = on;
        ++lines_.changes;
        return true;
    }
    Lines& lines_;
};

class SerialPortLinesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.Ok());
        RegisterSerialBackend(UartLikeDevice::kPrefix,
                              [this] { return std::make_unique<UartLikeDevice>(lines); });
        SerialPortTiming timing;
        timing.rateSettleMs = 0;
        timing.writeTotalMultiplierMs = 2;
        timing.writeTotalConstantMs = 20;
        port = std::make_unique<CSerialPort>(UartLikeDevice::kPrefix + pty.SlaveName(), timing);
        ASSERT_NE(port->GetHandle(), nullptr) << port->LastError();
    }
    void TearDown() override
    {
        ClosePort(std::move(port));
        UnregisterSerialBackend(UartLikeDevice::kPrefix);
    }

    PtyPair pty;
    UartLikeDevice::Lines lines;
    std::unique_ptr<CSerialPort> port;
};

TEST_F(SerialPortLinesTest, OpenDropsDtrAndRaisesRts)
{
    EXPECT_FALSE(lines.dtr);
    EXPECT_TRUE(lines.rts);
    EXPECT_FALSE(port->DtrState());
    EXPECT_TRUE(port->RtsState());
}

TEST_F(SerialPortLinesTest, RefusedRateKeepsThePreviousOneAndSignalsTheErrorEvent)
{
    ASSERT_TRUE(port->SetBaudRate(57600));
    port->ErrorEvent().Reset();
    EXPECT_FALSE(port->SetBaudRate(153600));
    EXPECT_EQ(port->LastError(), "Can't set Baud Rate 153600");
    EXPECT_EQ(port->StatusChannel().Text(), "Can't set Baud Rate 153600");
    EXPECT_TRUE(port->ErrorEvent().Test());
    EXPECT_EQ(port->GetBaudRate(), 57600u);
    EXPECT_EQ(pty.SlaveRate(), 57600u);
}

TEST_F(SerialPortLinesTest, TogglesFlipTheLinesAndTheRememberedState)
{
    const int before = lines.changes;
    EXPECT_TRUE(port->ToggleDtr());
    EXPECT_TRUE(lines.dtr);
    EXPECT_TRUE(port->DtrState());
    EXPECT_TRUE(port->ToggleRts());
    EXPECT_FALSE(lines.rts);
    EXPECT_FALSE(port->RtsState());
    EXPECT_EQ(lines.changes - before, 4); // each line is issued twice

    lines.cts = true;
    ASSERT_TRUE(port->ReadSettings());
    EXPECT_EQ(port->Settings().ctsLow, 0);
    EXPECT_EQ(port->Settings().dsrLow, 1);
    EXPECT_EQ(port->Settings().dtrLow, 0);
    EXPECT_EQ(port->Settings().rtsLow, 1);
}

TEST_F(SerialPortLinesTest, DirectLineControlOnTheHandleLeavesTheRememberedState)
{
    ISerialDevice* handle = port->GetHandle();
    EXPECT_TRUE(handle->SetDtr(true));
    EXPECT_TRUE(handle->SetBreak(true));
    EXPECT_TRUE(lines.dtr);
    EXPECT_TRUE(lines.brk);
    EXPECT_FALSE(port->DtrState());
}

TEST_F(SerialPortLinesTest, HandshakeRaisesRts)
{
    ASSERT_TRUE(port->ToggleRts());
    EXPECT_FALSE(lines.rts);
    EXPECT_NE(port->SetHandshake(0), 0);
    EXPECT_TRUE(lines.rts);
    EXPECT_TRUE(port->RtsState());
}

TEST_F(SerialPortLinesTest, WriteHeldPastItsTimeWithdrawsWhatHasNotLeft)
{
    lines.holdOutput = true;
    EXPECT_EQ(port->Write(reinterpret_cast<const uint8_t*>("set,cur/term/rtscts,on\n"), 23), 0u);
    EXPECT_EQ(port->LastError(), "Outgoing buffer full (1)");
    EXPECT_EQ(lines.held, "");
    // The next write is not held up by the withdrawn bytes.
    lines.holdOutput = false;
    EXPECT_EQ(port->Write(reinterpret_cast<const uint8_t*>("##\n"), 3), 3u);
    EXPECT_EQ(pty.Read(3), "##\n");
}

TEST(SerialPortOpen, PermissionProblemNamesItsCure)
{
    class Refusing : public TermiosSerialDevice {
        bool Open(const std::string&) override { return false; }
        SerialOpenError OpenError() const override { return SerialOpenError::Permission; }
    };
    RegisterSerialBackend("locked:", [] { return std::make_unique<Refusing>(); });
    CSerialPort port("locked:/dev/ttyS9");
    UnregisterSerialBackend("locked:");
    EXPECT_EQ(port.GetHandle(), nullptr);
    EXPECT_EQ(port.LastError(), "No permission to open port locked:/dev/ttyS9: add your user to the dialout "
                                "group, then log in again");
}

TEST(SerialPortOpen, WindowsStyleNameIsNoPortHere)
{
    CSerialPort port("COM1");
    EXPECT_EQ(port.GetHandle(), nullptr);
    EXPECT_EQ(port.LastError(), "Open COM1 port failed");
}

TEST(PumpMessagesFor, DispatchesWhileItWaits)
{
    int dispatched = 0;
    MessagePump::InstallPumpHook([&] { ++dispatched; });
    const auto start = std::chrono::steady_clock::now();
    PumpMessagesFor(120);
    MessagePump::InstallPumpHook(nullptr);
    EXPECT_GE(MsSince(start), 115);
    EXPECT_GE(dispatched, 3);
}

} // namespace
} // namespace kestrum
