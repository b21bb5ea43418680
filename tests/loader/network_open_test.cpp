#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "link/c_status_channel.h"
#include "loader/c_load_run.h"
#include "loader/c_load_session.h"
#include "loader/load_result.h"
#include "platform/chattering_server.h"

using namespace kestrum;
using kestrum::test::ChatteringServer;

namespace {

// Well below the network port's negotiation bound, so only the stop can end the open
// this early; far above what the stop takes.
constexpr auto kStopBound = std::chrono::seconds(3);

// The worker's own open against a server that chatters without completing the
// negotiation: a stop ends the run at once, as a user abort.
TEST(NetworkOpen, StopWhileTheRunOpensItsPortEndsItAborted)
{
    ChatteringServer server(ChatteringServer::Goes::ComPortControl);
    CStatusChannel status;
    auto request = std::make_shared<LoadRequest>();
    request->portName = server.Url();
    request->statusLink = status.Number();
    request->MarkRunning();
    std::thread worker([request] { RunLoadWorker(request); });
    ASSERT_TRUE(server.AwaitConnection());
    request->RequestStop();
    EXPECT_TRUE(request->WaitDone(std::chrono::duration_cast<std::chrono::milliseconds>(kStopBound).count()));
    worker.join();
    EXPECT_EQ(request->Result(), LOAD_ABORTED);
    EXPECT_EQ(status.Text(), "Loading aborted by User");
}

// The port test before the worker starts runs on the caller's thread: its Cancel ends
// the open there, and the start reports an abort, not a port that does not open.
TEST(NetworkOpen, CancelWhileTheStartTestsThePortAbortsTheStart)
{
    for (const auto goes : {ChatteringServer::Goes::Nowhere, ChatteringServer::Goes::ComPortControl}) {
        ChatteringServer server(goes);
        CStatusChannel page;
        CLoadSession session(page);
        LoadSetup setup;
        setup.portName = server.Url();
        setup.cancel = std::make_shared<CEvent>(CEvent::ResetMode::Auto);
        std::thread canceller([&] {
            server.AwaitConnection();
            setup.cancel->Set();
        });
        const auto start = std::chrono::steady_clock::now();
        const int started = session.StartLoad(kPowerOnCapture, setup);
        const auto took = std::chrono::steady_clock::now() - start;
        canceller.join();
        EXPECT_EQ(started, CLoadSession::kConnectAborted);
        EXPECT_LT(took, kStopBound);
    }
}

} // namespace
