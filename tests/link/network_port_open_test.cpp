#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "link/c_serial_port.h"
#include "platform/chattering_server.h"
#include "sim/receiver_model.h"
#include "sim/rfc2217_server.h"

namespace kestrum {
namespace {

using test::ChatteringServer;

// The server has opened the connection and answered the first question, then holds
// back the answer to the port's first settings while it chatters: a stop then ends the
// open at once and leaves no half-set port behind, with the usual open failure text.
TEST(NetworkPortOpen, StopDuringTheFirstSettingsLeavesNoPort)
{
    ChatteringServer server(ChatteringServer::Goes::FirstQuestionAnswered);
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        server.AwaitAnswer();
        stop = true;
    });
    const auto start = std::chrono::steady_clock::now();
    auto port =
        std::make_unique<CSerialPort>(server.Url(), SerialPortTiming{}, [&stop] { return stop.load(); });
    const auto took = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_TRUE(port->OpenCancelled());
    EXPECT_EQ(port->GetHandle(), nullptr);
    EXPECT_EQ(port->LastError(), "Open " + server.Url() + " port failed");
    EXPECT_FALSE(port->OpenFailureDetail().empty());
    EXPECT_LT(took, std::chrono::seconds(5));
    ClosePort(std::move(port));
}

// The check belongs to the open only: once the port is open, a round trip to the server
// does not ask it (it may consume a page's Cancel meant for the exchanges that follow).
TEST(NetworkPortOpen, TheStopCheckIsAskedOnlyWhileThePortOpens)
{
    Rfc2217Server server(std::make_shared<ReceiverModel>(ReceiverConfig{}),
                         Rfc2217Server::Options{.paced = false});
    std::string error;
    ASSERT_TRUE(server.Open(error)) << error;
    server.Start();
    int asked = 0;
    auto port = std::make_unique<CSerialPort>(server.Url(), SerialPortTiming{}, [&asked] {
        ++asked;
        return false;
    });
    ASSERT_NE(port->GetHandle(), nullptr) << port->OpenFailureDetail();
    EXPECT_FALSE(port->OpenCancelled());
    const int askedWhileOpening = asked;
    EXPECT_TRUE(port->SetBaudRate(9600));
    EXPECT_TRUE(port->ReadSettings());
    EXPECT_EQ(asked, askedWhileOpening);
    ClosePort(std::move(port));
}

} // namespace
} // namespace kestrum
