#include "link/c_status_channel.h"
#include "platform/message_pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace kestrum;

TEST(CStatusChannel, NumbersGrowAndAreNeverReused)
{
    auto first = std::make_unique<CStatusChannel>();
    const int32_t number = first->Number();
    first.reset();
    CStatusChannel second;
    EXPECT_GT(second.Number(), number);
}

TEST(CStatusChannel, ThreeChannelChainCarriesOnePostToEveryChannel)
{
    CStatusChannel a, b, c;
    ASSERT_TRUE(a.LinkTo(b.Number()));
    ASSERT_TRUE(b.LinkTo(c.Number()));
    a.SetStatus("Captured");
    for (CStatusChannel* ch : {&a, &b, &c}) {
        EXPECT_EQ(ch->Text(), "Captured");
        EXPECT_TRUE(ch->Event().Test());
        EXPECT_FALSE(ch->Event().Test()) << "auto-reset: the signal is consumed";
    }
}

TEST(CStatusChannel, QuietPostChangesTextOnlyHere)
{
    CStatusChannel a, b;
    ASSERT_TRUE(a.LinkTo(b.Number()));
    b.SetStatus("before", true);
    a.SetStatus("quiet", true);
    EXPECT_EQ(a.Text(), "quiet");
    EXPECT_FALSE(a.Event().Test());
    EXPECT_EQ(b.Text(), "before");
    EXPECT_FALSE(b.Event().Test());

    a.SignalStatus();
    EXPECT_TRUE(a.Event().Test());
    EXPECT_EQ(b.Text(), "quiet");
}

TEST(CStatusChannel, ForwardStatusSkipsOwnSignal)
{
    CStatusChannel a, b;
    ASSERT_TRUE(a.LinkTo(b.Number()));
    a.SetStatus("text", true);
    a.ForwardStatus();
    EXPECT_FALSE(a.Event().Test());
    EXPECT_TRUE(b.Event().Test());
    EXPECT_EQ(b.Text(), "text");
}

TEST(CStatusChannel, LinkRefusals)
{
    CStatusChannel a, b;
    EXPECT_FALSE(a.LinkTo(a.Number())) << "own number";
    EXPECT_FALSE(a.LinkTo(b.Number() + 1000)) << "never handed out";
    EXPECT_FALSE(a.LinkTo(-1));
    ASSERT_TRUE(a.LinkTo(b.Number()));
    EXPECT_FALSE(b.LinkTo(a.Number())) << "two-way link";
    EXPECT_EQ(b.Link(), -1);

    int32_t gone;
    {
        CStatusChannel temporary;
        gone = temporary.Number();
    }
    EXPECT_FALSE(a.LinkTo(gone)) << "destroyed channel";
    EXPECT_EQ(a.Link(), b.Number()) << "a refused link leaves the old one";
}

TEST(CStatusChannel, DestroyedTargetBreaksTheChainSafely)
{
    CStatusChannel a;
    {
        CStatusChannel b;
        ASSERT_TRUE(a.LinkTo(b.Number()));
    }
    a.SetStatus("still here");
    EXPECT_EQ(a.Text(), "still here");
    EXPECT_TRUE(a.Event().Test());
}

TEST(CStatusChannel, LongerLoopDoesNotRecurseForever)
{
    CStatusChannel a, b, c;
    ASSERT_TRUE(a.LinkTo(b.Number()));
    ASSERT_TRUE(b.LinkTo(c.Number()));
    ASSERT_TRUE(c.LinkTo(a.Number()));
    a.SetStatus("loop");
    EXPECT_EQ(c.Text(), "loop");
}

TEST(CStatusChannel, PostDispatchesPendingMessagesUnlessQuiet)
{
    int pumped = 0;
    MessagePump::InstallPumpHook([&] { ++pumped; });
    CStatusChannel a;
    a.SetStatus("quiet", true);
    EXPECT_EQ(pumped, 0);
    a.SetStatus("loud");
    EXPECT_EQ(pumped, 1);
    MessagePump::InstallPumpHook(nullptr);
}

TEST(CStatusChannel, WorkerPostsWhileReaderReads)
{
    CStatusChannel worker, gui;
    ASSERT_TRUE(worker.LinkTo(gui.Number()));
    std::atomic<bool> done{false};
    std::thread poster([&] {
        for (int i = 0; i < 2000; ++i)
            worker.SetStatus(i % 2 ? "Overrun error" : "Framing error");
        done = true;
    });
    while (!done) {
        if (gui.Event().Test()) {
            const std::string text = gui.Text();
            ASSERT_TRUE(text == "Overrun error" || text == "Framing error") << text;
        }
    }
    poster.join();
    EXPECT_EQ(gui.Text(), "Overrun error");
}
