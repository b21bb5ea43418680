// The capture over a pseudo-terminal; the Windows build leaves this file out.
#include "link/pty_pair.h"

#include "loader/c_capture.h"
#include "loader/c_load_line.h"
#include "loader/load_request.h"
#include "platform/tick_count.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include <unistd.h>

using namespace kestrum;

// A pseudo-terminal reports an empty output queue at all times, so the queue level alone
// would let the capture hand it 0x55 far faster than the line carries.
TEST(CaptureOverPty, FillStreamKeepsToTheLineRate)
{
    test::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    LoadRequest request;
    request.portName = pty.SlaveName();
    request.baudRate = 115200;
    request.captureMethod = kPowerOnCapture;
    request.timing.captureLimitMs = 1000;
    std::atomic<bool> done{false};
    size_t fill = 0;
    std::thread reader([&] {
        uint8_t buffer[4096];
        while (!done) {
            const ssize_t got = ::read(pty.Master(), buffer, sizeof buffer);
            if (got > 0)
                fill += static_cast<size_t>(std::count(buffer, buffer + got, 0x55));
            else
                SleepMs(5);
        }
    });
    SerialPortTiming timing;
    timing.stopPollMs = 20;
    CStatusChannel status;
    {
        auto port = std::make_unique<CSerialPort>(request.portName, timing);
        ASSERT_NE(port->GetHandle(), nullptr);
        port->SetBaudRate(115200);
        CLoadLine line(*port, request, status);
        bool userAbort = false;
        EXPECT_FALSE(CCapture(line, CCapture::kResetCommand).Capture(kPowerOnCapture, 115200, userAbort));
        EXPECT_EQ(status.Text(), "Can't capture receiver");
        ClosePort(std::move(port));
    }
    done = true;
    reader.join();
    // One second at 115200 carries 11520 bytes; allow one block ahead and scheduling slack.
    EXPECT_GT(fill, 1024u);
    EXPECT_LT(fill, 11520u + 2 * 1024u);
}
