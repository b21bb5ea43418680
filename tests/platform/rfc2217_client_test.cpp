#include "platform/rfc2217_serial_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/c_event.h"
#include "platform/chattering_server.h"
#include "platform/loopback_listener.h"

using namespace kestrum;
using namespace kestrum::rfc2217;
using kestrum::test::ChatteringServer;
using kestrum::test::LoopbackListener;

namespace {

constexpr Rfc2217SerialDevice::Timing kQuick{
    .connectMs = 2000, .negotiationMs = 500, .answerMs = 500, .closeFlushMs = 100};

// A server that takes up COM-port control and answers rate questions until told to go
// quiet (at once, or after some more answers); it closes the connection only when told.
class MutableServer : private Rfc2217TelnetCodec::Sink {
public:
    MutableServer()
    {
        thread_ = std::thread([this] { Serve(); });
    }
    ~MutableServer()
    {
        stop_ = true;
        thread_.join();
    }
    std::string Url() const { return listener_.Url(); }
    void GoQuiet() { quiet_ = true; }
    void AnswerOnly(int questions) { answersLeft_ = questions; }
    void HangUp() { hangUp_ = true; }

private:
    void Serve()
    {
        while (!stop_) {
            if (hangUp_ && client_.IsOpen()) {
                client_.Close();
                hangUp_ = false;
            }
            if (!client_.IsOpen()) {
                listener_.Accept(client_, 10);
                continue;
            }
            if (client_.Wait(true, false, false, 10) <= 0)
                continue;
            uint8_t buffer[4096];
            const long n = client_.Receive(buffer, sizeof buffer);
            if (n > 0 && !quiet_)
                codec_.Feed(buffer, static_cast<size_t>(n), *this);
        }
    }
    void OnData(const uint8_t*, size_t) override {}
    void OnOption(uint8_t verb, uint8_t option) override
    {
        if (verb == kWill && option == kOptionComPort)
            Send([&](std::vector<uint8_t>& out) { Rfc2217TelnetCodec::AppendOption(out, kDo, option); });
    }
    void OnSubnegotiation(uint8_t, const std::vector<uint8_t>& payload) override
    {
        if (!payload.empty() && payload[0] == kSetBaudRate && answersLeft_ != 0 && answersLeft_-- != 0)
            Send([](std::vector<uint8_t>& out) { Rfc2217TelnetCodec::AppendComPort32(out, kSetBaudRate + kReplyOffset, 115200); });
    }
    template <typename Build>
    void Send(Build build)
    {
        std::vector<uint8_t> out;
        build(out);
        client_.Send(out.data(), out.size());
    }

    LoopbackListener listener_;
    CTcpSocket client_; // the serving thread's
    Rfc2217TelnetCodec codec_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> quiet_{false};
    std::atomic<int> answersLeft_{-1}; // negative: no limit
    std::atomic<bool> hangUp_{false};

    std::thread thread_;
};

template <typename Action>
std::chrono::milliseconds Timed(Action action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

}  // namespace

TEST(Rfc2217Client, NamesOtherThanHostAndPortAreNotFound)
{
    std::string host;
    std::string port;
    EXPECT_TRUE(Rfc2217SerialDevice::ParseName("rfc2217://[::1]:7000", host, port));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, "7000");
    for (const char* name : {"rfc2217://host", "rfc2217://:7000", "rfc2217://host:0", "rfc2217://host:70000",
                             "rfc2217://host:70x", "rfc2217://a/b:7000"}) {
        Rfc2217SerialDevice device(kQuick);
        EXPECT_FALSE(device.Open(name)) << name;
        EXPECT_EQ(device.OpenError(), SerialOpenError::NotFound) << name;
        EXPECT_NE(device.OpenErrorText().find("rfc2217://host:port"), std::string::npos) << name;
    }
}

TEST(Rfc2217Client, RefusedConnectionSaysSo)
{
    LoopbackListener listener;
    const std::string url = listener.Url();
    listener.Close();
    Rfc2217SerialDevice device(kQuick);
    EXPECT_FALSE(device.Open(url));
    EXPECT_EQ(device.OpenError(), SerialOpenError::NotFound);
    EXPECT_NE(device.OpenErrorText().find("connection refused"), std::string::npos) << device.OpenErrorText();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.Wait(ISerialDevice::kReadable, -1), ISerialDevice::kGone);
    // An IPv6 address is named as given, in its brackets (whether or not this machine has IPv6).
    EXPECT_FALSE(device.Open("rfc2217://[::1]:1"));
    EXPECT_NE(device.OpenErrorText().find(" [::1]:1"), std::string::npos) << device.OpenErrorText();
}

// The connection is taken by the system but nothing ever answers.
TEST(Rfc2217Client, SilentServerFailsTheOpenWithinTheAnswerTime)
{
    LoopbackListener listener;
    Rfc2217SerialDevice device(kQuick);
    bool opened = true;
    const auto took = Timed([&] { opened = device.Open(listener.Url()); });
    EXPECT_FALSE(opened);
    EXPECT_NE(device.OpenErrorText().find("did not take up COM-port control"), std::string::npos)
        << device.OpenErrorText();
    EXPECT_NE(device.OpenErrorText().find("it sent nothing"), std::string::npos) << device.OpenErrorText();
    EXPECT_LT(took, std::chrono::seconds(10));
}

// A server that keeps talking is given up after the one negotiation bound however long
// it would go on (a stretched answer wait would last 40 s here), and the text says how
// far it got and that it did talk.
TEST(Rfc2217Client, ChatteringServerIsGivenUpAfterTheNegotiationBound)
{
    struct Case {
        ChatteringServer::Goes goes;
        const char* text;
    };
    for (const Case& server : {Case{ChatteringServer::Goes::Nowhere, "did not take up COM-port control"},
                               Case{ChatteringServer::Goes::ComPortControl,
                                    "took up COM-port control but did not report its line settings"}}) {
        ChatteringServer chatterer(server.goes);
        Rfc2217SerialDevice::Timing timing = kQuick;
        timing.answerMs = 2000;
        Rfc2217SerialDevice device(timing);
        bool opened = true;
        const auto took = Timed([&] { opened = device.Open(chatterer.Url()); });
        EXPECT_FALSE(opened);
        EXPECT_EQ(device.OpenError(), SerialOpenError::NotFound);
        const std::string text = device.OpenErrorText();
        EXPECT_NE(text.find(server.text), std::string::npos) << text;
        EXPECT_NE(text.find("bytes, none of them the answer"), std::string::npos) << text;
        EXPECT_LT(took, std::chrono::seconds(10));
    }
}

// A cancel ends the open at once wherever the negotiation stands. The check is asked
// on the opening thread and its yes is kept, so an auto-reset event can be its source.
TEST(Rfc2217Client, CancelEndsTheOpenAtOnce)
{
    for (const auto goes : {ChatteringServer::Goes::Nowhere, ChatteringServer::Goes::ComPortControl}) {
        ChatteringServer chatterer(goes);
        Rfc2217SerialDevice::Timing timing = kQuick;
        timing.negotiationMs = 60000;
        Rfc2217SerialDevice device(timing);
        CEvent cancel(CEvent::ResetMode::Auto);
        device.SetCancelCheck([&cancel] { return cancel.Test(); });
        std::thread canceller([&] {
            if (chatterer.AwaitConnection())
                std::this_thread::sleep_for(std::chrono::milliseconds(100)); // into the negotiation
            cancel.Set();
        });
        bool opened = true;
        const auto took = Timed([&] { opened = device.Open(chatterer.Url()); });
        canceller.join();
        EXPECT_FALSE(opened);
        EXPECT_EQ(device.OpenError(), SerialOpenError::Cancelled);
        EXPECT_NE(device.OpenErrorText().find("cancelled"), std::string::npos) << device.OpenErrorText();
        EXPECT_LT(took, std::chrono::seconds(5));
    }
}

// A server that stops answering after the open: the read fails after the answer time,
// and from then on the device counts as gone, so a programming run does not wait again
// for every one of its bits.
TEST(Rfc2217Client, ServerThatStopsAnsweringEndsWaitsPromptly)
{
    MutableServer server;
    Rfc2217SerialDevice device(kQuick);
    ASSERT_TRUE(device.Open(server.Url())) << device.OpenErrorText();
    bool dsr = false;
    bool cts = false;
    EXPECT_TRUE(device.GetModemStatus(dsr, cts));
    server.GoQuiet();
    EXPECT_TRUE(device.SetDtr(false));
    bool read = true;
    const auto took = Timed([&] { read = device.GetModemStatus(dsr, cts); });
    EXPECT_FALSE(read);
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_NE(device.OpenErrorText().find("stopped answering"), std::string::npos) << device.OpenErrorText();
    EXPECT_EQ(device.Wait(ISerialDevice::kReadable | ISerialDevice::kReleased, -1) & ISerialDevice::kGone,
              ISerialDevice::kGone);
    EXPECT_FALSE(device.ApplySettings(SerialLineSettings{}));
    EXPECT_FALSE(device.GetModemStatus(dsr, cts));
}

// A server that goes silent after the open is found even while nobody asks it anything:
// a receive wait without a time limit ends, and the reason says what happened.
TEST(Rfc2217Client, ServerThatGoesSilentIsFoundWhileNobodyAsks)
{
    MutableServer server;
    Rfc2217SerialDevice::Timing timing = kQuick;
    timing.silenceMs = 200;
    Rfc2217SerialDevice device(timing);
    ASSERT_TRUE(device.Open(server.Url())) << device.OpenErrorText();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(device.Wait(0, 0), 0) << "a server that answers stays: " << device.OpenErrorText();
    server.GoQuiet();
    const int got = device.Wait(ISerialDevice::kReadable | ISerialDevice::kReleased, 30000);
    EXPECT_EQ(got & ISerialDevice::kGone, ISerialDevice::kGone);
    EXPECT_NE(device.OpenErrorText().find("the server at 127.0.0.1:"), std::string::npos) << device.OpenErrorText();
    EXPECT_NE(device.OpenErrorText().find("stopped answering: nothing came from it for"), std::string::npos)
        << device.OpenErrorText();
}

TEST(Rfc2217Client, ReleaseEndsOnlyAWaitThatWatchesForIt)
{
    MutableServer server;
    Rfc2217SerialDevice device(kQuick);
    ASSERT_TRUE(device.Open(server.Url())) << device.OpenErrorText();
    device.Release();
    EXPECT_EQ(device.Wait(ISerialDevice::kReadable, 20), ISerialDevice::kTimeout);
    EXPECT_EQ(device.Wait(ISerialDevice::kReadable | ISerialDevice::kReleased, 2000), ISerialDevice::kReleased);
}

// A batch whose answers stop coming part-way: the reads answered before keep their
// answers, and the silence is found within the answer time, not waited out for ever.
TEST(Rfc2217Client, ServerThatStopsAnsweringMidBatchIsDetected)
{
    MutableServer server;
    Rfc2217SerialDevice device(kQuick);
    ASSERT_TRUE(device.Open(server.Url())) << device.OpenErrorText();
    server.AnswerOnly(40);
    SerialLineBatch batch;
    for (int i = 0; i < 100; ++i) {
        batch.SetRts(i % 2 == 0);
        batch.ReadModem();
    }
    LineBatchResult result;
    const auto took = Timed([&] { result = device.RunLineBatch(batch, {}); });
    EXPECT_EQ(result.end, LineBatchResult::End::Gone);
    EXPECT_EQ(result.reads.size(), 40u);
    EXPECT_NE(result.error.find("stopped answering"), std::string::npos) << result.error;
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_EQ(device.RunLineBatch(batch, {}).end, LineBatchResult::End::Gone) << "the device counts as gone";
}

// A batch waiting for answers that do not come ends at once on a stop or when the server
// hangs up, with its reason, long before its minute of answer time.
TEST(Rfc2217Client, StopOrHangUpEndsABatchWaitingForAnswers)
{
    struct Case {
        const char* what;
        LineBatchResult::End end;
        const char* error;
    } const cases[] = {{"stop", LineBatchResult::End::Stopped, "stopped while the server"},
                       {"hang-up", LineBatchResult::End::Gone, "closed the connection"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MutableServer server;
        Rfc2217SerialDevice device(Rfc2217SerialDevice::Timing{.answerMs = 60000});
        ASSERT_TRUE(device.Open(server.Url())) << device.OpenErrorText();
        server.GoQuiet();
        SerialLineBatch batch;
        batch.SetDtr(true);
        batch.ReadModem();
        CEvent stop(CEvent::ResetMode::Auto);
        const bool hangUp = c.end == LineBatchResult::End::Gone;
        std::thread far([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            hangUp ? server.HangUp() : stop.Set();
        });
        LineBatchResult result;
        const auto took = Timed([&] { result = device.RunLineBatch(batch, [&stop] { return stop.Test(); }); });
        far.join();
        EXPECT_EQ(result.end, c.end);
        EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
        EXPECT_TRUE(result.reads.empty());
        EXPECT_LT(took, std::chrono::seconds(10)) << "not the minute of answer time";
    }
}
