// A line batch on the terminal driver; the Windows build leaves this file out.
#include "platform/serial_line_batch.h"

#include <gtest/gtest.h>

#include "link/pty_pair.h"
#include "platform/termios_serial_device.h"

using namespace kestrum;

// A pseudo-terminal has no control lines: the terminal driver refuses the first change,
// and the port, still there, is not taken for gone.
TEST(SerialLineBatch, TerminalWithoutControlLinesRefusesTheFirstChange)
{
    test::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    TermiosSerialDevice device;
    ASSERT_TRUE(device.Open(pty.SlaveName())) << device.OpenErrorText();
    SerialLineBatch batch;
    batch.SetDtr(true);
    batch.ReadModem();
    const LineBatchResult result = device.RunLineBatch(batch, {});
    EXPECT_EQ(result.end, LineBatchResult::End::Refused);
    EXPECT_EQ(result.error, "the device refused a line change");
    EXPECT_TRUE(result.reads.empty());
}
