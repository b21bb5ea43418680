// Low-latency mode of a tty, asked for at open and taken back at close, on a real
// pseudo-terminal with drivers played by the test (the adapters whose drivers grant it are
// not on a test machine).
#include "platform/termios_serial_device.h"

#include <gtest/gtest.h>

#include "app/temp_dir.h"
#include "link/pty_pair.h"
#include "platform/c_wire_trace.h"
#include "platform/fake_serial_flags.h"
#include "platform/trace_reader.h"
#include "platform/tracing_serial_device.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

constexpr int kOtherFlags = 0x0240;

} // namespace

TEST(LowLatency, AskedAtOpenAndTheFlagsFoundPutBackAtClose)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    struct Case {
        FakeSerialFlags::Driver driver;
        int flagsFound;
        LowLatencyMode mode;
        int writes; // the ask and, for a grant, the taking back
    } const cases[] = {
        {FakeSerialFlags::Driver::Grants, kOtherFlags, LowLatencyMode::Granted, 2},
        {FakeSerialFlags::Driver::Grants, kOtherFlags | kLowLatencySerialFlag, LowLatencyMode::AlreadyOn,
         0},
        {FakeSerialFlags::Driver::Refuses, kOtherFlags, LowLatencyMode::Refused, 0},
        {FakeSerialFlags::Driver::DropsTheBit, kOtherFlags, LowLatencyMode::Refused, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.driver));
        auto driver = std::make_shared<FakeSerialFlags>(c.driver, c.flagsFound);
        TermiosSerialDevice device(driver);
        ASSERT_TRUE(device.Open(pty.SlaveName()));
        EXPECT_EQ(device.LowLatency(), c.mode);
        if (c.mode == LowLatencyMode::Granted) {
            EXPECT_EQ(driver->Flags(), kOtherFlags | kLowLatencySerialFlag);
        }
        device.Close();
        EXPECT_EQ(driver->Flags(), c.flagsFound) << "every flag as it was found";
        EXPECT_EQ(driver->Writes(), c.writes);
    }

    // The system's own request on a pseudo-terminal: refused, and the port works all the same.
    TermiosSerialDevice device;
    ASSERT_TRUE(device.Open(pty.SlaveName()));
    EXPECT_EQ(device.LowLatency(), LowLatencyMode::Refused);
    const uint8_t byte = 0x5A;
    EXPECT_EQ(device.Write(&byte, 1), 1);
}

TEST(LowLatency, TheWireTraceRecordsTheDriversAnswer)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    TempDir dir;
    const std::string path = (dir.Path() / "trace.txt").string();
    std::string error;
    const std::shared_ptr<CWireTrace> trace = CWireTrace::Create(path, "low latency", error);
    ASSERT_TRUE(trace) << error;
    for (const auto driver : {FakeSerialFlags::Driver::Grants, FakeSerialFlags::Driver::Refuses}) {
        TracingSerialDevice device(
            std::make_unique<TermiosSerialDevice>(std::make_shared<FakeSerialFlags>(driver)), trace);
        ASSERT_TRUE(device.Open(pty.SlaveName()));
        device.Close();
    }
    ASSERT_TRUE(trace->Flush());

    std::vector<std::string> seen;
    for (const TraceRecord& record : ReadTrace(path))
        seen.push_back(record.what);
    EXPECT_EQ(seen, (std::vector<std::string>{"open", "low-latency mode granted by the driver",
                                              "close, low-latency mode taken back", "open",
                                              "low-latency mode refused by the driver", "close"}));
}
