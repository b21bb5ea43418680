// A load on a tty whose driver grants low-latency mode (played by the test, on a
// pseudo-terminal served by the simulator): the mode is on while the load runs, and the
// driver's flags are as they were found once it has ended, a failed load included.
#include "load_fixture.h"

#include "loader/load_result.h"
#include "platform/fake_serial_flags.h"
#include "platform/serial_device_factory.h"
#include "platform/termios_serial_device.h"
#include "sim/pty_server.h"

using namespace kestrum;
using namespace kestrum::test;

class LowLatencyLoad : public LoadFixture {};

TEST_F(LowLatencyLoad, AFailedLoadLeavesTheDriversFlagsAsFound)
{
    constexpr int kFlagsFound = 0x0240;
    ReceiverConfig config;
    config.powerCycleAfterMs = 200;
    config.flashFaults.errorFrame = 1;
    model_ = std::make_shared<ReceiverModel>(config);
    PtyServer server(model_, false);
    std::string error;
    ASSERT_TRUE(server.Open(error)) << error;
    server.Start();
    auto driver = std::make_shared<FakeSerialFlags>(FakeSerialFlags::Driver::Grants, kFlagsFound);
    RegisterSerialBackend(server.PortPath(),
                          [driver] { return std::make_unique<TermiosSerialDevice>(driver); });

    auto request = Request(kPowerOnCapture, RamFile({true, 20, "", 10}), FlashFile({20, "6.0", 3000, true}));
    request->portName = server.PortPath();
    const int result = Run(*request);
    UnregisterSerialBackend(server.PortPath());
    server.Stop();

    EXPECT_EQ(result, LOAD_FLASH_ERROR);
    EXPECT_TRUE(driver->LowLatencySeen());
    EXPECT_EQ(driver->Flags(), kFlagsFound);
}
