#include "platform/serial_device_factory.h"
#include "sim/sim_port_registry.h"
#include "sim/sim_serial_device.h"
#include "sim/wire_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace kestrum;

namespace {

// Echoes what it hears, shows DTR as DSR and RTS as CTS, and remembers the line changes.
class LoopbackModel : public DeviceModel {
public:
    explicit LoopbackModel(uint32_t rate) { SetLineRate(rate); }
    PcLines LastLines()
    {
        std::lock_guard lock(ModelMutex());
        return lines_;
    }
    int LineChanges()
    {
        std::lock_guard lock(ModelMutex());
        return changes_;
    }

protected:
    void OnByte(const HeardByte& byte, SimTime now) override { Send(&byte.value, 1, now); }
    void OnLines(const PcLines&, const PcLines& after, SimTime) override
    {
        lines_ = after;
        ++changes_;
        SetModemLines(DeviceLines{after.dtr, after.rts});
    }

private:
    PcLines lines_;
    int changes_ = 0;
};

std::string ReadFor(ISerialDevice& device, size_t want, int timeoutMs)
{
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < want && std::chrono::steady_clock::now() < end) {
        if (device.Wait(ISerialDevice::kReadable, 50) & ISerialDevice::kReadable) {
            uint8_t buffer[256];
            const long n = device.Read(buffer, sizeof buffer);
            if (n > 0)
                got.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
        }
    }
    return got;
}

SerialLineSettings AtRate(uint32_t rate)
{
    SerialLineSettings settings;
    settings.baudRate = rate;
    return settings;
}

void WriteText(ISerialDevice& device, const std::string& text)
{
    ASSERT_EQ(device.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size()), long(text.size()));
}

}  // namespace

TEST(SimSerialDevice, BytesRoundTripAtTheDevicesRateAndTurnToGarbageAtAnother)
{
    auto model = std::make_shared<LoopbackModel>(115200);
    SimSerialDevice device(model, {.paced = false});
    ASSERT_TRUE(device.Open("sim:test"));
    ASSERT_TRUE(device.ApplySettings(AtRate(115200)));
    WriteText(device, "hello");
    EXPECT_EQ(ReadFor(device, 5, 2000), "hello");

    ASSERT_TRUE(device.ApplySettings(AtRate(9600)));
    WriteText(device, "hello");
    const std::string garbage = ReadFor(device, 5, 2000);
    ASSERT_EQ(garbage.size(), 5u);
    EXPECT_EQ(garbage.find_first_not_of(std::string(1, '\0') + "\xff"), std::string::npos);
    EXPECT_EQ(device.Wait(ISerialDevice::kLineError, 0), ISerialDevice::kLineError);
    SerialErrorCounts counts;
    ASSERT_TRUE(device.ErrorCounts(counts));
    EXPECT_EQ(counts.framing, 5u);
    EXPECT_EQ(device.Wait(ISerialDevice::kLineError, 0), ISerialDevice::kTimeout);
}

TEST(SimSerialDevice, PacedLineTakesTheCharacterTimesOfItsRate)
{
    auto model = std::make_shared<LoopbackModel>(9600);
    SimSerialDevice device(model, {.paced = true});
    ASSERT_TRUE(device.Open("sim:test"));
    ASSERT_TRUE(device.ApplySettings(AtRate(9600)));
    const std::string text(96, 'x');  // 100 ms on the line at 9600 baud; the echo runs alongside
    const auto start = std::chrono::steady_clock::now();
    WriteText(device, text);
    EXPECT_GT(device.OutputQueued(), 0);
    EXPECT_TRUE(device.Drain(5000));
    EXPECT_EQ(ReadFor(device, text.size(), 5000), text);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(99));
}

// Unpaced, a byte is on the line the moment it is written: the device hears it then, not
// whenever the line thread next runs (late on a busy machine, which shortened the pauses
// that wire tests measure between bytes).
TEST(SimSerialDevice, UnpacedDeviceHearsEachWriteWhenItWasMade)
{
    auto model = std::make_shared<LoopbackModel>(115200);
    SimSerialDevice device(model, {.paced = false});
    ASSERT_TRUE(device.Open("sim:test"));
    ASSERT_TRUE(device.ApplySettings(AtRate(115200)));
    std::vector<std::pair<SimTime, SimTime>> writes;
    for (const char* text : {"a", "bc"}) {
        const SimTime before = SimNow();
        WriteText(device, text);
        writes.emplace_back(before, SimNow());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(ReadFor(device, 3, 2000), "abc");
    std::vector<SimTime> heard;
    for (const WireEvent& event : model->WireEvents())
        if (event.kind == WireEvent::Kind::FromPc)
            heard.push_back(event.at);
    ASSERT_EQ(heard.size(), 3u);
    const size_t firstOf[] = {0, 1, 1};
    for (size_t i = 0; i < heard.size(); ++i) {
        EXPECT_GE(heard[i], writes[firstOf[i]].first) << i;
        EXPECT_LE(heard[i], writes[firstOf[i]].second) << i;
    }
}

TEST(SimSerialDevice, LineChangesReachTheModelBeforeTheNextStatusRead)
{
    auto model = std::make_shared<LoopbackModel>(115200);
    SimSerialDevice device(model);
    ASSERT_TRUE(device.Open("sim:test"));
    EXPECT_EQ(model->LineChanges(), 0);  // opening raises DTR and RTS without a reported change
    bool dsr = true, cts = true;
    ASSERT_TRUE(device.SetDtr(false));
    ASSERT_TRUE(device.GetModemStatus(dsr, cts));
    EXPECT_FALSE(dsr);
    ASSERT_TRUE(device.SetDtr(true));
    ASSERT_TRUE(device.SetRts(false));
    ASSERT_TRUE(device.SetBreak(true));
    ASSERT_TRUE(device.GetModemStatus(dsr, cts));
    EXPECT_TRUE(dsr);
    EXPECT_FALSE(cts);
    EXPECT_EQ(model->LastLines(), (PcLines{true, false, true}));
    // Handshaking keeps RTS on whatever was set by hand.
    SerialLineSettings settings = AtRate(115200);
    settings.flow = SerialLineSettings::Flow::RtsCts;
    ASSERT_TRUE(device.ApplySettings(settings));
    EXPECT_TRUE(model->LastLines().rts);
    device.Close();
    EXPECT_EQ(model->LastLines(), PcLines{});  // closing drops the lines
}

TEST(SimSerialDevice, WaitEndsOnTimeoutReleaseAndDisconnect)
{
    auto model = std::make_shared<LoopbackModel>(115200);
    SimSerialDevice device(model);
    ASSERT_TRUE(device.Open("sim:test"));
    EXPECT_EQ(device.Wait(ISerialDevice::kReadable, 30), ISerialDevice::kTimeout);
    const int readOrRelease = ISerialDevice::kReadable | ISerialDevice::kReleased;

    device.Release();  // a release before the wait ends the next wait that watches for it
    EXPECT_EQ(device.Wait(ISerialDevice::kReadable, 10), ISerialDevice::kTimeout);
    EXPECT_EQ(device.Wait(readOrRelease, -1), ISerialDevice::kReleased);

    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        device.Release();
    });
    EXPECT_EQ(device.Wait(readOrRelease, -1), ISerialDevice::kReleased);
    releaser.join();

    std::thread puller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        device.InjectDisconnect();
    });
    EXPECT_EQ(device.Wait(ISerialDevice::kReadable, -1) & ISerialDevice::kGone, ISerialDevice::kGone);
    puller.join();
    uint8_t byte = 0;
    EXPECT_EQ(device.Write(&byte, 1), -1);
    EXPECT_EQ(device.Read(&byte, 1), -1);
}

TEST(SimSerialDevice, DeviceDisappearsAfterTheConfiguredNumberOfBytes)
{
    auto model = std::make_shared<LoopbackModel>(115200);
    LineFaults faults;
    faults.disconnectAfter = 3;
    model->SetFaults(faults);
    SimSerialDevice device(model, {.paced = false});
    ASSERT_TRUE(device.Open("sim:test"));
    ASSERT_TRUE(device.ApplySettings(AtRate(115200)));
    WriteText(device, "abcdef");
    EXPECT_NE(device.Wait(ISerialDevice::kReadable, 2000) & ISerialDevice::kGone, 0);
}

TEST(SimSerialDevice, OneModelServesOneOpenPortAtATime)
{
    auto model = std::make_shared<LoopbackModel>(115200);
    SimSerialDevice first(model), second(model), none(nullptr);
    ASSERT_TRUE(first.Open("sim:a"));
    EXPECT_FALSE(second.Open("sim:a"));
    EXPECT_EQ(second.OpenError(), SerialOpenError::Busy);
    first.Close();
    EXPECT_TRUE(second.Open("sim:a"));
    EXPECT_FALSE(none.Open("sim:b"));
    EXPECT_EQ(none.OpenError(), SerialOpenError::NotFound);
}

TEST(SimSerialDevice, FactoryHandsOutRegisteredModelsBySimNames)
{
    auto model = std::make_shared<LoopbackModel>(115200);
    RegisterSimBackend();
    RegisterSimPort("sim:loop", model, {.paced = false});
    std::unique_ptr<ISerialDevice> device = CreateSerialDevice("sim:loop");
    ASSERT_TRUE(device->Open("sim:loop"));
    ASSERT_TRUE(device->ApplySettings(AtRate(115200)));
    WriteText(*device, "ok");
    EXPECT_EQ(ReadFor(*device, 2, 2000), "ok");
    device->Close();

    std::unique_ptr<ISerialDevice> missing = CreateSerialDevice("sim:nobody");
    EXPECT_FALSE(missing->Open("sim:nobody"));
    EXPECT_EQ(missing->OpenError(), SerialOpenError::NotFound);
    UnregisterSimPort("sim:loop");
}
