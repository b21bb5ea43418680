#include "platform/c_event.h"
#include "platform/c_stopwatch.h"
#include "platform/message_pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace kestrum;

TEST(CEvent, AutoResetSignalIsConsumedByOneTestOrWait)
{
    CEvent event(CEvent::ResetMode::Auto);
    EXPECT_FALSE(event.Test());
    event.Set();
    EXPECT_TRUE(event.Test());
    EXPECT_FALSE(event.Test());
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
}

TEST(CEvent, ManualResetStaysSignalledUntilReset)
{
    CEvent event(CEvent::ResetMode::Manual, true);
    EXPECT_TRUE(event.Test());
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.Test());
}

TEST(CEvent, WaitTimesOutAndIsReleasedByAnotherThread)
{
    CEvent event;
    CStopwatch watch;
    EXPECT_FALSE(event.Wait(60));
    EXPECT_GE(watch.Elapsed(), 55u);

    std::thread setter([&] { event.Set(); });
    EXPECT_TRUE(event.Wait(5000));
    setter.join();
}

TEST(MessagePump, HooksAreCalledOnlyOnceInstalled)
{
    int pumped = 0;
    std::atomic<int> posted{0};
    MessagePump::DispatchPending();
    MessagePump::Post(WM_LOADER_STAGE, 1, 2);

    MessagePump::InstallPumpHook([&] { ++pumped; });
    MessagePump::InstallMessageSink([&](int message, intptr_t w, intptr_t l) {
        if (message == WM_CAPTURE_PROMPT && w == 3 && l == 4)
            ++posted;
    });
    MessagePump::DispatchPending();
    std::thread worker([] { MessagePump::Post(WM_CAPTURE_PROMPT, 3, 4); });
    worker.join();
    EXPECT_EQ(pumped, 1);
    EXPECT_EQ(posted, 1);

    MessagePump::InstallPumpHook(nullptr);
    MessagePump::InstallMessageSink(nullptr);
    MessagePump::DispatchPending();
    EXPECT_EQ(pumped, 1);
}
