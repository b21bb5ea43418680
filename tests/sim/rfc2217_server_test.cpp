#include "platform/rfc2217_serial_device.h"
#include "platform/serial_device_factory.h"
#include "sim/rfc2217_server.h"
#include "sim/sim_command_line.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace kestrum;

namespace {

// A loop-back plug: every byte comes back, DTR shows on DSR and RTS on CTS.
class LoopbackPlug : public DeviceModel {
protected:
    void OnByte(const HeardByte& byte, SimTime now) override { Send(&byte.value, 1, now); }
    void OnLines(const PcLines&, const PcLines& after, SimTime) override
    {
        SetModemLines(DeviceLines{after.dtr, after.rts});
    }
    void OnAttach(SimTime) override { SetModemLines(DeviceLines{Lines().dtr, Lines().rts}); }
};

class Rfc2217Loopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(server_.Open(error)) << error;
        server_.Start();
        ASSERT_TRUE(device_.Open(server_.Url())) << device_.OpenErrorText();
        SerialLineSettings line;
        ASSERT_TRUE(device_.ApplySettings(line));
    }

    std::vector<uint8_t> ReadAll(size_t count)
    {
        std::vector<uint8_t> got;
        uint8_t buffer[4096];
        while (got.size() < count) {
            const int bits = device_.Wait(ISerialDevice::kReadable, 5000);
            if (!(bits & ISerialDevice::kReadable))
                break;
            const long n = device_.Read(buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    Rfc2217Server server_{std::make_shared<LoopbackPlug>(), {.paced = false}};
    Rfc2217SerialDevice device_;
};

}  // namespace

TEST_F(Rfc2217Loopback, EveryByteValueComesBackIntactIncludingRunsOfIac)
{
    std::vector<uint8_t> sent;
    for (int round = 0; round < 40; ++round)
        for (int value = 0; value < 256; ++value)
            sent.push_back(static_cast<uint8_t>(value));
    sent.insert(sent.end(), 999, 0xFF);
    size_t written = 0;
    while (written < sent.size()) {
        const long n = device_.Write(sent.data() + written, sent.size() - written);
        ASSERT_GE(n, 0);
        written += static_cast<size_t>(n);
    }
    EXPECT_TRUE(device_.Drain(5000));
    EXPECT_EQ(ReadAll(sent.size()), sent);
}

// Each read must see the line change made just before it, however fast they follow.
TEST_F(Rfc2217Loopback, ModemReadAfterALineChangeSeesItsEffect)
{
    for (int i = 0; i < 500; ++i) {
        const bool dtr = (i % 2) == 0;
        const bool rts = (i % 3) == 0;
        ASSERT_TRUE(device_.SetDtr(dtr));
        ASSERT_TRUE(device_.SetRts(rts));
        bool dsr = !dtr;
        bool cts = !rts;
        ASSERT_TRUE(device_.GetModemStatus(dsr, cts));
        ASSERT_EQ(dsr, dtr) << "read " << i;
        ASSERT_EQ(cts, rts) << "read " << i;
    }
    EXPECT_GE(server_.Counters().roundTrips.load(), 500u);
}

// Line changes are not waited for one by one, but this side never runs far ahead of the
// server: a fixed wait made after them (a Flash page's write time) must hold there too.
TEST_F(Rfc2217Loopback, LineChangesNeverRunFarAheadOfTheServer)
{
    const uint64_t before = server_.Counters().lineChanges.load();
    constexpr uint64_t kChanges = 200000;
    for (uint64_t i = 0; i < kChanges; ++i)
        ASSERT_TRUE(device_.SetRts((i % 2) == 0));
    const uint64_t applied = server_.Counters().lineChanges.load() - before;
    EXPECT_GE(applied + 1100, kChanges) << "changes still on their way when the last call returned";
}

TEST_F(Rfc2217Loopback, RatesAndFramesReachTheServerAndAreConfirmed)
{
    SerialLineSettings line;
    line.baudRate = 14400;
    line.flow = SerialLineSettings::Flow::RtsCts;
    EXPECT_TRUE(device_.ApplySettings(line));
    SerialLineSettings now;
    ASSERT_TRUE(device_.GetSettings(now));
    EXPECT_EQ(now.baudRate, 14400u);
    EXPECT_EQ(now.flow, SerialLineSettings::Flow::RtsCts);
    line.stopBits = 3;
    EXPECT_FALSE(device_.ApplySettings(line));
}

// Hanging up ends a wait that has no time limit, and says why.
TEST_F(Rfc2217Loopback, ServerHangingUpEndsEveryWaitAtOnce)
{
    int result = 0;
    std::thread receiver([&] { result = device_.Wait(ISerialDevice::kReadable | ISerialDevice::kReleased, -1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server_.DropClient();
    receiver.join();
    EXPECT_EQ(result & ISerialDevice::kGone, ISerialDevice::kGone);
    EXPECT_NE(device_.OpenErrorText().find("closed the connection"), std::string::npos) << device_.OpenErrorText();
    bool dsr = false;
    bool cts = false;
    EXPECT_FALSE(device_.GetModemStatus(dsr, cts));
    EXPECT_FALSE(device_.SetDtr(true));
    EXPECT_EQ(device_.Write(reinterpret_cast<const uint8_t*>("x"), 1), -1);
}

TEST_F(Rfc2217Loopback, ASecondClientIsTurnedAwayAsBusyWhileTheFirstIsServed)
{
    Rfc2217SerialDevice second;
    EXPECT_FALSE(second.Open(server_.Url()));
    EXPECT_EQ(second.OpenError(), SerialOpenError::Busy);
    device_.Close();
    // The server is free again as soon as the first one has gone.
    bool opened = false;
    for (int attempt = 0; attempt < 50 && !opened; ++attempt) {
        opened = second.Open(server_.Url());
        if (!opened)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(opened) << second.OpenErrorText();
}

TEST(Rfc2217Factory, NetworkPortNamesGetTheNetworkClientWithoutRegistration)
{
    auto device = CreateSerialDevice("rfc2217://127.0.0.1:1");
    EXPECT_NE(dynamic_cast<Rfc2217SerialDevice*>(device.get()), nullptr);
}

TEST(Rfc2217CommandLine, PortAndAddressOptions)
{
    SimCommandLine line;
    std::string error;
    ASSERT_TRUE(ParseSimCommandLine({"--rfc2217", "0"}, line, error)) << error;
    EXPECT_EQ(line.rfc2217Port, 0);
    EXPECT_EQ(line.rfc2217Bind, "127.0.0.1");
    ASSERT_TRUE(ParseSimCommandLine({"--rfc2217", "2217", "--rfc2217-bind", "::1"}, line, error)) << error;
    EXPECT_EQ(line.rfc2217Port, 2217);
    EXPECT_EQ(line.rfc2217Bind, "::1");
    SimCommandLine bad;
    EXPECT_FALSE(ParseSimCommandLine({"--rfc2217", "65536"}, bad, error));
    EXPECT_FALSE(ParseSimCommandLine({"--rfc2217", "x"}, bad, error));
}

// Bytes handed to the network are not yet on the line: a drain on a paced line lasts
// about as long as the line needs for what the server cannot buffer.
TEST(Rfc2217Drain, DrainWaitsForTheServerToTakeTheData)
{
    Rfc2217Server server(std::make_shared<LoopbackPlug>(), {.paced = true});
    std::string error;
    ASSERT_TRUE(server.Open(error)) << error;
    server.Start();
    Rfc2217SerialDevice device;
    ASSERT_TRUE(device.Open(server.Url())) << device.OpenErrorText();
    ASSERT_TRUE(device.ApplySettings(SerialLineSettings{}));
    const std::vector<uint8_t> bytes(20000, 0x55);  // about 1.7 s at 115200 baud
    ASSERT_EQ(device.Write(bytes.data(), bytes.size()), static_cast<long>(bytes.size()));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(device.Drain(20000));
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}
