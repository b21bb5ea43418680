#include "cli/c_interrupt_watcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <unistd.h>

#include "platform/tick_count.h"

using namespace kestrum;

namespace {

// Work that never returns, as a thread stuck in the kernel does not.
[[noreturn]] void StuckForever()
{
    for (;;)
        ::pause();
}

}  // namespace

TEST(InterruptWatcher, StopThatIsHonouredRunsTheCancelOnly)
{
    std::atomic<int> cancels{0};
    {
        CInterruptWatcher watcher([&] { ++cancels; }, {"", 2, 60000});
        ::kill(::getpid(), SIGTERM);
        for (int i = 0; i < 100 && cancels == 0; ++i)
            SleepMs(20);
        EXPECT_TRUE(watcher.Interrupted());
    }
    EXPECT_EQ(cancels, 1);
}

TEST(InterruptWatcherDeathTest, StuckWorkEndsTheProcessAsAbortedAfterTheBound)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            CInterruptWatcher watcher([] {}, {"Loading aborted by User", 2, 200});
            ::kill(::getpid(), SIGINT);
            StuckForever();
        },
        ::testing::ExitedWithCode(2), "did not stop in time");
}

TEST(InterruptWatcherDeathTest, SecondInterruptEndsTheProcessAtOnce)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            CInterruptWatcher watcher([] { ::kill(::getpid(), SIGINT); }, {"", 2, 600000});
            ::kill(::getpid(), SIGINT);
            StuckForever();
        },
        ::testing::ExitedWithCode(2), "did not stop in time");
}
