#include "demo_image_dir.h"
#include "model_driver.h"
#include "sim/image_layout.h"
#include "sim/receiver_model.h"
#include "sim/sim_command_line.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

using namespace kestrum;
using namespace kestrum::test;

namespace {

bool Parse(std::vector<std::string> args, SimCommandLine& line, std::string& error)
{
    return ParseSimCommandLine(args, line, error);
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(SimCommandLine, OptionsReachTheDeviceTheyDescribe)
{
    SimCommandLine line;
    std::string error;
    ASSERT_TRUE(Parse({"--device-id", "0x16", "--device", "powerboard", "--rate", "9600", "--rate-multiple", "2",
                       "--echo", "on", "--answer", "print,/par/x=hello", "--refuse", "dm", "--power-firmware", "P1",
                       "--nak-frame", "3", "--slow", "40", "--unpaced", "--wire-log", "/tmp/w.log", "--realtime"},
                      line, error))
        << error;
    EXPECT_EQ(line.device, SimCommandLine::Device::PowerBoard);
    EXPECT_EQ(line.receiver.commands.rate, 9600u);
    EXPECT_EQ(line.receiver.rateMultiple, 2u);
    EXPECT_TRUE(line.receiver.commands.echo);
    EXPECT_EQ(line.receiver.commands.answers.at("print,/par/x"), "hello");
    EXPECT_EQ(line.receiver.flashFaults.nakFrame, 3);
    EXPECT_EQ(line.faults.slowReplyMs, 40);
    EXPECT_FALSE(line.paced);
    EXPECT_EQ(line.wireLogPath, "/tmp/w.log");
    EXPECT_TRUE(line.realTime);

    // The identifier given before --device still goes to the power board's boot loader.
    auto model = std::dynamic_pointer_cast<ReceiverModel>(MakeSimDevice(line));
    ASSERT_TRUE(model);
    EXPECT_EQ(model->PowerBoardFirmware(), "P1");
    ModelDriver pc(model, 4800);
    pc.Say("##\n##\nset,reset,yes\n");
    pc.Pass(5);
    pc.SetRate(115200);
    pc.Send(std::vector<uint8_t>(64, 0x55));
    pc.Pass(100);
    for (int i = 0; i < 4; ++i)
        pc.Send(0x06);
    const std::vector<uint8_t> reply = pc.CollectBytes(300);
    ASSERT_GE(reply.size(), 2u);
    EXPECT_EQ(reply[reply.size() - 2], 0x16);
}

TEST(SimCommandLine, BadArgumentsAreNamed)
{
    const struct {
        std::vector<std::string> args;
        const char* mentions;
    } table[] = {
        {{"--rate", "12345"}, "--rate"},
        {{"--rate"}, "needs BAUD"},
        {{"--echo", "maybe"}, "--echo"},
        {{"--device", "toaster"}, "toaster"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"--answer", "=x"}, "--answer"},
        {{"--error-byte", "0x40"}, "--error-byte"},
        {{"--vdk-firmware", "1.0"}, "--vdk-firmware"},
    };
    for (const auto& row : table) {
        SimCommandLine line;
        std::string error;
        EXPECT_FALSE(Parse(row.args, line, error)) << row.mentions;
        EXPECT_NE(error.find(row.mentions), std::string::npos) << error;
    }
}

TEST(SimCommandLine, DemoImagesCarryTheChosenHeaderFields)
{
    const auto dir = std::filesystem::temp_directory_path() / ("kestrum-sim-images-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    SimCommandLine line;
    std::string error;
    ASSERT_TRUE(Parse({"--write-images", dir.string(), "--ram-final-ack", "0", "--ram-device-id", "-1",
                       "--flash-version", "7.7 test", "--flash-device-id", "22", "--power-version", "PB 9"},
                      line, error))
        << error;
    std::string report;
    ASSERT_TRUE(WriteDemoImages(line, report)) << report;

    const std::vector<uint8_t> ram = ReadFile(dir / "ramimage.ldr");
    ASSERT_GE(ram.size(), image_layout::kRamHeaderLength);
    EXPECT_EQ(ReadBigEndian32(&ram[0]), ram.size());
    EXPECT_EQ(ReadBigEndian32(&ram[8]), 0u);
    EXPECT_EQ(ReadBigEndian32(&ram[16]), 0xFFFFFFFFu);
    const std::vector<uint8_t> flash = ReadFile(dir / "main.ldp");
    ASSERT_GT(flash.size(), 24u);
    EXPECT_EQ(ReadBigEndian32(&flash[0]), 0xFFFFFFFFu);
    EXPECT_EQ(flash[4], 22);
    EXPECT_EQ(FlashImageVersion(flash), "7.7 test");
    EXPECT_EQ(RamImageVersion(ReadFile(dir / "powbrd.ldr")), "PB 9");

    line.imageDirectory = (dir / "missing" / "deeper").string();
    EXPECT_FALSE(WriteDemoImages(line, report));
    EXPECT_NE(report.find("cannot write"), std::string::npos);
    std::filesystem::remove_all(dir);
}

// The unit's frames start with @ and #, so a version holding one would break its replies.
TEST(SimCommandLine, VdkFirmwareTextMustBeWhatTheUnitCanReport)
{
    for (const char* bad : {"01@00", "#1.00", "01\t00", "01.0\x7F", "01.0\xE9", "1.00"}) {
        SimCommandLine line;
        std::string error;
        EXPECT_FALSE(Parse({"--vdk-firmware", bad}, line, error)) << bad;
        EXPECT_NE(error.find("--vdk-firmware"), std::string::npos) << error;
        EXPECT_NE(error.find("other than @ and #"), std::string::npos) << error;
    }
    SimCommandLine line;
    std::string error;
    ASSERT_TRUE(Parse({"--device", "vdk1", "--vdk-firmware", "2.5 b"}, line, error)) << error;
    EXPECT_EQ(line.vdkFirmware, "2.5 b");
}

TEST(SimCommandLine, DemoImagesThatCannotBeWrittenSayWhereAndWhy)
{
    const DemoImageDir images("kestrum-sim-unwritable", "1.0", "100", "100");
    ASSERT_TRUE(images.Ok()) << images.Error();
    const std::filesystem::path dir = std::filesystem::path(images.RamPath()).parent_path();
    const struct {
        std::filesystem::path folder;
        int reason;
    } table[] = {
        {dir / "missing", ENOENT},
        {images.RamPath(), ENOTDIR},  // a file where the folder should be
    };
    for (const auto& row : table) {
        SimCommandLine line;
        line.imageDirectory = row.folder.string();
        std::string report;
        EXPECT_FALSE(WriteDemoImages(line, report));
        EXPECT_NE(report.find((row.folder / "ramimage.ldr").string()), std::string::npos) << report;
        EXPECT_NE(report.find(std::strerror(row.reason)), std::string::npos) << report;
    }
}
