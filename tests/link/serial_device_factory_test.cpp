#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "link/c_serial_port.h"
#include "link_test_support.h"
#include "platform/serial_device_factory.h"
#include "platform/termios_serial_device.h"
#include "pty_pair.h"

namespace kestrum {
namespace {

using test::MsSince;
using test::PtyPair;

// A backend that remembers which name it was asked to open and never opens.
class RecordingDevice : public TermiosSerialDevice {
public:
    explicit RecordingDevice(std::string& seen, std::string tag) : seen_(seen), tag_(std::move(tag)) {}
    bool Open(const std::string& name) override
    {
        seen_ = tag_ + name;
        return false;
    }
    SerialOpenError OpenError() const override { return SerialOpenError::Busy; }

private:
    std::string& seen_;
    std::string tag_;
};

TEST(SerialDeviceFactory, RegisteredPrefixPicksItsBackendLongestFirst)
{
    std::string seen;
    RegisterSerialBackend("fa", [&] { return std::make_unique<RecordingDevice>(seen, "short:"); });
    RegisterSerialBackend("fake:", [&] { return std::make_unique<RecordingDevice>(seen, "long:"); });
    {
        CSerialPort port("fake:receiver");
        EXPECT_EQ(seen, "long:fake:receiver");
        EXPECT_EQ(port.LastError(), "Port fake:receiver is busy");
        CSerialPort other("far");
        EXPECT_EQ(seen, "short:far");
    }
    UnregisterSerialBackend("fa");
    UnregisterSerialBackend("fake:");
    seen.clear();
    CSerialPort port("fake:receiver");
    EXPECT_EQ(seen, "");
    EXPECT_EQ(port.LastError(), "Open fake:receiver port failed");
}

TEST(SerialDeviceFactory, UnknownSchemeIsAPortThatDoesNotExist)
{
    CSerialPort port("nowhere://localhost:4000");
    EXPECT_EQ(port.GetHandle(), nullptr);
    EXPECT_EQ(port.LastError(), "Open nowhere://localhost:4000 port failed");
}

TEST(TermiosSerialDevice, ReleaseEndsOnlyAWaitThatWatchesIt)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    std::unique_ptr<ISerialDevice> device = CreateSerialDevice(pty.SlaveName());
    ASSERT_TRUE(device->Open(pty.SlaveName())) << device->OpenErrorText();

    device->Release();
    EXPECT_EQ(device->Wait(ISerialDevice::kReadable, 30), ISerialDevice::kTimeout);
    EXPECT_EQ(device->Wait(ISerialDevice::kReadable | ISerialDevice::kReleased, 5000),
              ISerialDevice::kReleased);

    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        device->Release();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device->Wait(ISerialDevice::kReadable | ISerialDevice::kReleased, -1),
              ISerialDevice::kReleased);
    EXPECT_LT(MsSince(start), 5000);
    releaser.join();

    pty.CloseMaster();
    EXPECT_NE(device->Wait(ISerialDevice::kReadable, -1) & ISerialDevice::kGone, 0);
    EXPECT_EQ(device->Write(reinterpret_cast<const uint8_t*>("x"), 1), -1);
}

} // namespace
} // namespace kestrum
