#include "link/c_serial_port.h"
#include "protocol/c_device_info_query.h"
#include "protocol/c_display_unit_link.h"
#include "sim/vdk1_model.h"
#include "sim_ports.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace kestrum;
using namespace kestrum::test;

namespace {

// A display unit whose version reply carries whatever body the test gives it, and
// which keeps every byte it hears.
class ScriptedUnit : public DeviceModel {
public:
    explicit ScriptedUnit(std::string versionBody) : versionBody_(std::move(versionBody)) {}

    std::string Heard()
    {
        std::lock_guard lock(ModelMutex());
        return heard_;
    }

protected:
    void OnAttach(SimTime now) override { WakeAt(now + SimMs(50)); }
    void OnTime(SimTime now) override
    {
        SendFrame("@0p", now);
        WakeAt(now + SimMs(300));
    }
    void OnByte(const HeardByte& byte, SimTime now) override
    {
        heard_.push_back(static_cast<char>(byte.value));
        if (heard_.size() >= 3 && heard_.compare(heard_.size() - 3, 2, "#V") == 0)
            SendFrame("@2V" + versionBody_, now);
    }

private:
    void SendFrame(const std::string& body, SimTime now)
    {
        std::string frame = body;
        frame.push_back(static_cast<char>(0x80 | 0x11));  // a checksum byte that is never "@"
        Send(frame, now);
    }

    const std::string versionBody_;
    std::string heard_;
};

ProtocolTiming ShortVdkTiming()
{
    ProtocolTiming timing;
    timing.vdkConnectTimeoutMs = 700;
    return timing;
}

}  // namespace

// The unit's reply is closed only by its next announcement, about a second later, so the
// reply's prefix must be kept across the polls in between.
TEST(DisplayUnitInfo, ReadsVersionsAt115200WhateverTheConnectionPageSays)
{
    ScopedSimPort sim("sim:vdk-query", std::make_shared<Vdk1Model>());
    CDeviceInfoQuery query;
    std::vector<std::string> shown;
    query.SetTextListener([&](const std::string& text) { shown.push_back(text); });

    EXPECT_EQ(query.Run(DeviceKind::DisplayUnit, sim.Settings(9600, 1)), QueryOutcome::Completed);
    EXPECT_EQ(query.Info().hardware, "2");
    EXPECT_EQ(query.Info().firmware, "01.00");
    EXPECT_EQ(query.Info().text, "Firmware:\t\t01.00\r\nHardware:\t\t2\r\n");
    EXPECT_EQ(query.StatusChannel().Text(), "Ready ");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown.front(), "Firmware:\r\nHardware:\r\n");
    EXPECT_FALSE(query.Busy());
}

TEST(DisplayUnitInfo, ReplyOfFiveOrSevenCharactersLeavesBothValuesEmpty)
{
    for (const std::string body : {"2ABCD", "2ABCDEF"}) {
        ScopedSimPort sim("sim:vdk-odd", std::make_shared<ScriptedUnit>(body));
        CDeviceInfoQuery query;
        query.Info().firmware = "old";
        query.Info().hardware = "old";
        EXPECT_EQ(query.Run(DeviceKind::DisplayUnit, sim.Settings()), QueryOutcome::Completed) << body;
        EXPECT_EQ(query.Info().firmware, "") << body;
        EXPECT_EQ(query.Info().hardware, "") << body;
        EXPECT_EQ(query.Info().text, "Firmware:\t\t\r\nHardware:\t\t\r\n") << body;
    }
}

TEST(DisplayUnitLink, VersionQueryFrameIsHashVAndItsChecksum)
{
    auto unit = std::make_shared<ScriptedUnit>("201.00");
    ScopedSimPort sim("sim:vdk-frame", unit);
    CSerialPort port("sim:vdk-frame");
    ASSERT_NE(port.GetHandle(), nullptr);
    port.StartReceive();
    CDisplayUnitLink link;
    std::string reply;
    EXPECT_TRUE(link.Query(port, "V", "", reply, 2000));
    EXPECT_EQ(reply, "201.00");
    EXPECT_EQ(unit->Heard(), std::string("\x23\x56\x79"));
}

TEST(DisplayUnitInfo, SilentUnitGivesCantConnectAndClearsItsValues)
{
    Vdk1Model::Options absent;
    absent.present = false;
    ScopedSimPort sim("sim:vdk-silent", std::make_shared<Vdk1Model>(absent));
    CDeviceInfoQuery query({}, ShortVdkTiming());
    query.Info().firmware = "old";
    query.Info().model = "kept";
    EXPECT_EQ(query.Run(DeviceKind::DisplayUnit, sim.Settings()), QueryOutcome::NotConnected);
    EXPECT_EQ(query.ConnectResult(), kConnectNoAnswer);
    EXPECT_EQ(query.StatusChannel().Text(), "Can't connect with VDK1");
    EXPECT_EQ(query.Info().text, "Firmware:\r\nHardware:\r\n");
    EXPECT_EQ(query.Info().firmware, "");
    EXPECT_EQ(query.Info().model, "kept");
}

TEST(DisplayUnitInfo, CancelWhileLookingForTheUnit)
{
    Vdk1Model::Options absent;
    absent.present = false;
    ScopedSimPort sim("sim:vdk-cancel", std::make_shared<Vdk1Model>(absent));
    CDeviceInfoQuery query;  // the full 6 s search: Cancel must end it well before
    StatusRecorder user;
    query.StatusChannel().LinkTo(user.Number());
    user.CancelOn("Looking for VDK1", query.CancelEvent());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(query.Run(DeviceKind::DisplayUnit, sim.Settings()), QueryOutcome::NotConnected);
    EXPECT_EQ(query.ConnectResult(), kConnectCancelled);
    EXPECT_EQ(query.StatusChannel().Text(), "Connecting aborted by User");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(DeviceInfoQuery, PortThatDoesNotOpenShowsItsErrorAndKeepsTheLabels)
{
    RegisterSimBackend();
    CDeviceInfoQuery query;
    query.Info().firmware = "kept";
    PortSettings settings;
    settings.port = "sim:nobody-here";
    EXPECT_EQ(query.Run(DeviceKind::DisplayUnit, settings), QueryOutcome::PortNotOpened);
    EXPECT_EQ(query.StatusChannel().Text(), "Open sim:nobody-here port failed");
    EXPECT_EQ(query.Info().text, "Firmware:\r\nHardware:\r\n");
    EXPECT_EQ(query.Info().firmware, "kept");
}
