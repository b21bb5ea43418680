#include "vdk/c_programming_link.h"

#include <gtest/gtest.h>

#include "vdk_test_cable.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

constexpr uint64_t kClocksPerAttempt = 32;

struct LinkOnUnit {
    explicit LinkOnUnit(Vdk1Model::Options options = {}, CableFaults faults = {})
        : model(std::make_shared<Vdk1Model>(options)), port(RegisterUnit(model)),
          log(std::make_shared<CableLog>()), link(WatchedFactory(log, faults), kNoWaits)
    {
    }

    std::shared_ptr<Vdk1Model> model;
    std::string port;
    std::shared_ptr<CableLog> log;
    CProgrammingLink link;
};

}  // namespace

TEST(CProgrammingLink, SynchronisesOnTheSecondAttemptAfterOneMissedClock)
{
    LinkOnUnit unit;
    unit.model->SlipOnReset(1);
    ASSERT_TRUE(unit.link.Open(unit.port));
    unit.link.ResetPulse();
    EXPECT_TRUE(unit.model->InProgrammingMode());
    EXPECT_TRUE(unit.link.Synchronise());
    EXPECT_EQ(unit.model->ClocksSinceReset(), 2 * kClocksPerAttempt + 1);
    EXPECT_EQ(unit.log->modemReads, 2u * 8);
}

TEST(CProgrammingLink, SynchronisesOnTheLastAttemptButNoLater)
{
    LinkOnUnit unit;
    unit.model->SlipOnReset(31);
    ASSERT_TRUE(unit.link.Open(unit.port));
    unit.link.ResetPulse();
    EXPECT_TRUE(unit.link.Synchronise());
    EXPECT_EQ(unit.model->ClocksSinceReset(), 32 * kClocksPerAttempt + 31);
}

TEST(CProgrammingLink, FailedModemReadEndsSynchronisationAtOnce)
{
    LinkOnUnit unit({}, CableFaults{3, false});
    ASSERT_TRUE(unit.link.Open(unit.port));
    unit.link.ResetPulse();
    EXPECT_FALSE(unit.link.Synchronise());
    EXPECT_EQ(unit.log->modemReads, 4u);
}

TEST(CProgrammingLink, ClosePutsTheEarlierSettingsBackAndReopenClosesFirst)
{
    LinkOnUnit unit;
    ASSERT_TRUE(unit.link.Open(unit.port));
    ASSERT_TRUE(unit.link.Open(unit.port));  // the simulated port opens only once at a time
    ASSERT_EQ(unit.log->settingsAtClose.size(), 1u);
    EXPECT_TRUE(unit.link.Close());
    ASSERT_EQ(unit.log->settingsAtClose.size(), 2u);
    for (const auto& settings : unit.log->settingsAtClose)
        EXPECT_TRUE(SameSettings(settings, EarlierSettings()));
    EXPECT_FALSE(unit.link.IsOpen());
}

TEST(CProgrammingLink, RefusedSettingsFailTheOpenAndLeaveThePortAsFound)
{
    LinkOnUnit unit({}, CableFaults{-1, true});
    EXPECT_FALSE(unit.link.Open(unit.port));
    EXPECT_FALSE(unit.link.IsOpen());
    ASSERT_EQ(unit.log->settingsAtClose.size(), 1u);
    EXPECT_TRUE(SameSettings(unit.log->settingsAtClose[0], EarlierSettings()));
    EXPECT_FALSE(unit.link.Open("sim:nobody-here"));
}
