#include "platform/rfc2217_serial_device.h"
#include "platform/serial_device_factory.h"
#include "sim/rfc2217_server.h"
#include "sim/sim_command_line.h"

#include <gtest/gtest.h>

#include <chrono>
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

// A loop-back plug behind a server that adds a round-trip delay, with a client on it.
struct DelayedLoopback {
    explicit DelayedLoopback(std::chrono::milliseconds roundTrip)
        : server(std::make_shared<LoopbackPlug>(), {.paced = false, .roundTripDelay = roundTrip})
    {
        std::string error;
        EXPECT_TRUE(server.Open(error)) << error;
        server.Start();
        EXPECT_TRUE(device.Open(server.Url())) << device.OpenErrorText();
        EXPECT_TRUE(device.ApplySettings(SerialLineSettings{}));
    }

    Rfc2217Server server;
    Rfc2217SerialDevice device;
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

// A batch goes out in one go, so it costs one round trip however many reads it holds;
// each read still sees the changes queued before it.
TEST_F(Rfc2217Loopback, BatchAnswersAreMatchedToTheirReadsInOrder)
{
    SerialLineBatch batch;
    for (int i = 0; i < 2000; ++i) {
        batch.SetDtr(i % 2 == 0);
        batch.SetRts(i % 3 == 0);
        batch.ReadModem();
    }
    const uint64_t roundTripsBefore = device_.RoundTrips();
    const LineBatchResult result = device_.RunLineBatch(batch, {});
    ASSERT_TRUE(result.Completed()) << result.error;
    ASSERT_EQ(result.reads.size(), 2000u);
    for (size_t i = 0; i < result.reads.size(); ++i) {
        ASSERT_EQ(result.reads[i].dsr, i % 2 == 0) << "read " << i;
        ASSERT_EQ(result.reads[i].cts, i % 3 == 0) << "read " << i;
    }
    EXPECT_EQ(device_.RoundTrips() - roundTripsBefore, 1u);
}

// A fixed wait begun when a batch returns (a Flash page's write time) must hold at the
// device: every change has then been applied there, even over a slow network.
TEST(Rfc2217Batch, EveryChangeHasReachedTheServerWhenTheBatchReturns)
{
    DelayedLoopback net(std::chrono::milliseconds(20));
    SerialLineBatch batch;
    for (int i = 0; i < 30000; ++i)
        batch.SetRts(i % 2 == 0);
    const uint64_t before = net.server.Counters().lineChanges.load();
    ASSERT_TRUE(net.device.RunLineBatch(batch, {}).Completed());
    EXPECT_EQ(net.server.Counters().lineChanges.load() - before, 30000u);
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
    ASSERT_TRUE(ParseSimCommandLine({"--rfc2217", "0", "--rfc2217-delay", "0.25"}, line, error)) << error;
    EXPECT_EQ(line.rfc2217Delay, std::chrono::microseconds(250));
    ASSERT_TRUE(ParseSimCommandLine({"--rfc2217-delay", "3"}, line, error)) << error;
    EXPECT_EQ(line.rfc2217Delay, std::chrono::milliseconds(3));
    SimCommandLine bad;
    EXPECT_FALSE(ParseSimCommandLine({"--rfc2217", "65536"}, bad, error));
    EXPECT_FALSE(ParseSimCommandLine({"--rfc2217", "x"}, bad, error));
    for (const char* delay : {"-1", "0.0001", ".5", "1,5", "x", "10001"})
        EXPECT_FALSE(ParseSimCommandLine({"--rfc2217-delay", delay}, bad, error)) << delay;
}

// The delay is added both ways: a question's answer comes back no sooner than it says,
// and what the device sends is held back too.
TEST(Rfc2217Delay, EveryRoundTripTakesAtLeastTheDelay)
{
    DelayedLoopback net(std::chrono::milliseconds(150));
    Rfc2217SerialDevice& device = net.device;
    bool dsr = false;
    bool cts = false;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(device.GetModemStatus(dsr, cts));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));

    const uint8_t byte = 0x42;
    start = std::chrono::steady_clock::now();
    ASSERT_EQ(device.Write(&byte, 1), 1);
    ASSERT_NE(device.Wait(ISerialDevice::kReadable, 5000) & ISerialDevice::kReadable, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    uint8_t echoed = 0;
    EXPECT_EQ(device.Read(&echoed, 1), 1);
    EXPECT_EQ(echoed, byte);
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
