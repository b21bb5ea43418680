#include "platform/termios_serial_device.h"
#include "sim/pty_server.h"
#include "sim/receiver_model.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace kestrum;

namespace {

std::string Exchange(const std::string& port, uint32_t rate, const std::string& said, int listenMs)
{
    TermiosSerialDevice device;
    if (!device.Open(port))
        return "open failed: " + device.OpenErrorText();
    SerialLineSettings settings;
    settings.baudRate = rate;
    if (!device.ApplySettings(settings))
        return "rate refused";
    device.DiscardInput();
    device.Write(reinterpret_cast<const uint8_t*>(said.data()), said.size());
    std::string heard;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(listenMs);
    while (std::chrono::steady_clock::now() < end && heard.find("%DM%") == std::string::npos) {
        if (device.Wait(ISerialDevice::kReadable, 20) & ISerialDevice::kReadable) {
            uint8_t buffer[256];
            const long n = device.Read(buffer, sizeof buffer);
            if (n > 0)
                heard.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
        }
    }
    return heard;
}

}  // namespace

TEST(PtyServer, TaggedCommandIsAnsweredAtTheReceiversRateOnly)
{
    ReceiverConfig config;
    config.commands.rate = 9600;
    PtyServer server(std::make_shared<ReceiverModel>(config));
    std::string error;
    ASSERT_TRUE(server.Open(error)) << error;
    ASSERT_EQ(server.PortPath().rfind("/dev/pts/", 0), 0u) << server.PortPath();
    server.Start();

    EXPECT_NE(Exchange(server.PortPath(), 9600, "##\n%DM%dm\n", 3000).find("RE004%DM%"), std::string::npos);
    EXPECT_EQ(Exchange(server.PortPath(), 115200, "##\n%DM%dm\n", 500).find("RE"), std::string::npos);
    // The port can be opened again by the next piece of work.
    EXPECT_NE(Exchange(server.PortPath(), 9600, "##\n%DM%dm\n", 3000).find("RE004%DM%"), std::string::npos);
    server.Stop();
}

TEST(PtyServer, BothDirectionsTakeTheCharacterTimesOfTheRate)
{
    ReceiverConfig config;
    config.commands.rate = 9600;
    PtyServer server(std::make_shared<ReceiverModel>(config));
    std::string error;
    ASSERT_TRUE(server.Open(error)) << error;
    server.Start();
    // The command's 99 characters take 103 ms at 9600 baud before the receiver has the whole
    // line, and its 9-character reply 9 ms more.
    const auto start = std::chrono::steady_clock::now();
    const std::string heard = Exchange(server.PortPath(), 9600, std::string(90, 'x') + "##%DM%dm\n", 3000);
    EXPECT_NE(heard.find("RE004%DM%"), std::string::npos);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(110));
    server.Stop();
}

TEST(PtyServer, AStreamCrossesAtTheLineRateNotByteByByte)
{
    ReceiverConfig config;
    config.commands.rate = 460800;
    config.commands.echo = true;
    PtyServer server(std::make_shared<ReceiverModel>(config));
    std::string error;
    ASSERT_TRUE(server.Open(error)) << error;
    server.Start();
    // 4000 characters take 87 ms at 460800 baud; one character per pass of the server's loop
    // would take seconds.
    const auto start = std::chrono::steady_clock::now();
    const std::string heard = Exchange(server.PortPath(), 460800, std::string(4000, 'x') + "##%DM%\n", 10000);
    EXPECT_NE(heard.find("%DM%"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
    server.Stop();
}
