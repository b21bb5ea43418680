#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>

#include "link/c_serial_port.h"
#include "protocol/sim_ports.h"
#include "sim/receiver_model.h"

namespace kestrum {
namespace {

using test::ScopedSimPort;

// Line-error reports of a port on a simulated device, driven through the error flags.
class LineErrorLogTest : public ::testing::Test {
protected:
    std::unique_ptr<CSerialPort> OpenPort(const ScopedSimPort& device)
    {
        auto port = std::make_unique<CSerialPort>(device.Settings().port);
        EXPECT_NE(port->GetHandle(), nullptr);
        return port;
    }

    ScopedSimPort deviceA{"sim:line-errors-a", std::make_shared<ReceiverModel>(ReceiverConfig{})};
    ScopedSimPort deviceB{"sim:line-errors-b", std::make_shared<ReceiverModel>(ReceiverConfig{})};
};

TEST_F(LineErrorLogTest, CountsPerKindAndPortTotalFromTheFirstReportAfterOpen)
{
    auto port = OpenPort(deviceA);
    EXPECT_EQ(port->DescribeLineErrors(CE_FRAME | CE_RXPARITY), "Framing error (1),Parity error (1)");
    EXPECT_TRUE(port->ErrorEvent().Test());
    const std::string firstLine = port->ErrorLog().Contents();
    EXPECT_TRUE(std::regex_match(
        firstLine, std::regex(R"(2 \(\d\d:\d\d:\d\d\.\d\d\d\) Framing error \(1\),Parity error \(1\)\n)")))
        << firstLine;

    EXPECT_EQ(port->DescribeLineErrors(CE_FRAME), "Framing error (2)");
    const std::string log = port->ErrorLog().Contents();
    EXPECT_EQ(log.substr(firstLine.size(), 2), "3 ");
    EXPECT_TRUE(log.ends_with(") Framing error (2)\n"));
    ClosePort(std::move(port));
}

TEST_F(LineErrorLogTest, FlagsOutsideTheTableCountAsSerialOverruns)
{
    auto port = OpenPort(deviceA);
    EXPECT_EQ(port->DescribeLineErrors(0), "Serial overruns (1)");
    EXPECT_EQ(port->DescribeLineErrors(0x200), "Serial overruns (2)");
    EXPECT_TRUE(port->ErrorLog().Contents().starts_with("1 ("));
    ClosePort(std::move(port));
}

TEST_F(LineErrorLogTest, AllKindsInTheirFixedOrder)
{
    auto port = OpenPort(deviceA);
    const uint32_t all = CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK | CE_TXFULL | CE_IOE;
    EXPECT_EQ(port->DescribeLineErrors(all),
              "Break detected (1),Framing error (1),I/O error (1),Serial overrun (1),"
              "Incoming buffer overflow (1),Parity error (1),Outgoing buffer full (1)");
    EXPECT_TRUE(port->ErrorLog().Contents().starts_with("7 ("));
    ClosePort(std::move(port));
}

TEST_F(LineErrorLogTest, NewPortRestartsCountsAtItsFirstErrorOnly)
{
    auto first = OpenPort(deviceA);
    first->DescribeLineErrors(CE_FRAME);
    first->DescribeLineErrors(CE_FRAME);
    EXPECT_EQ(CLineErrorTable::KindCount(1), 2);

    auto second = OpenPort(deviceB);
    // The shared counts stay until the new port reports its first error.
    EXPECT_EQ(CLineErrorTable::KindCount(1), 2);
    EXPECT_EQ(second->DescribeLineErrors(CE_RXPARITY), "Parity error (1)");
    EXPECT_EQ(CLineErrorTable::KindCount(1), 0);
    // Counts are shared by all ports; the total is the port's own.
    EXPECT_EQ(first->DescribeLineErrors(CE_RXPARITY), "Parity error (2)");
    EXPECT_TRUE(first->ErrorLog().Contents().ends_with(") Parity error (2)\n"));
    ClosePort(std::move(second));
    ClosePort(std::move(first));
}

} // namespace
} // namespace kestrum
