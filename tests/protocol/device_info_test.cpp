#include "protocol/device_info.h"

#include <gtest/gtest.h>

using namespace kestrum;

TEST(DeviceInfoText, LabelsOnly)
{
    EXPECT_EQ(ReceiverLabelsText(), "Model:\r\nID:\r\nFirmware:\r\nHardware:\r\nRAM Size, KB:");
    EXPECT_EQ(VersionLabelsText(), "Firmware:\r\nHardware:\r\n");
}

TEST(DeviceInfoText, ReceiverLinesWithTabs)
{
    DeviceInfo info;
    info.model = "GX-12";
    info.id = "0042";
    info.firmware = "3.1";
    info.hardware = "B";
    info.ramSize = "2048";
    EXPECT_EQ(ReceiverInfoText(info),
              "Model:\t\tGX-12\r\nID:\t\t0042\r\nFirmware:\t\t3.1\r\nHardware:\t\tB\r\nRAM Size, KB:\t2048");
    info.ClearAll();
    EXPECT_EQ(ReceiverInfoText(info), "Model:\t\t\r\nID:\t\t\r\nFirmware:\t\t\r\nHardware:\t\t\r\nRAM Size, KB:\t");
}

TEST(DeviceInfoText, VersionLinesEachEndTheLine)
{
    DeviceInfo info;
    info.firmware = "1.07";
    info.hardware = "2";
    EXPECT_EQ(VersionInfoText(info), "Firmware:\t\t1.07\r\nHardware:\t\t2\r\n");
}

TEST(TrimLeadingBlanks, OnlyLeadingSpaces)
{
    const std::pair<std::string, std::string> cases[] = {
        {"  GX-12  ", "GX-12  "}, {"GX", "GX"}, {"   ", ""}, {"", ""}, {"\tX", "\tX"},
    };
    for (auto [in, out] : cases) {
        TrimLeadingBlanks(in);
        EXPECT_EQ(in, out);
    }
}
