#include "cli/cli_arguments.h"
#include "cli/cli_config.h"

#include <gtest/gtest.h>

#include "unique_test_dir.h"

#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace kestrum;

namespace {

class CliConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = kestrum::test::MakeUniqueTestDir("kestrum-cli");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    bool Resolve(const std::vector<std::string>& words, const std::string& ini, CliConfig& config,
                 std::string& error)
    {
        const std::string path = dir_ + "/kestrum.ini";
        std::ofstream(path) << ini;
        std::vector<std::string> arguments = {"kestrum-cli", "load"};
        arguments.insert(arguments.end(), words.begin(), words.end());
        const CliArguments parsed = ParseCliArguments(arguments);
        EXPECT_EQ(parsed.error, "");
        CSettingsFile stored(path);
        return ResolveCliConfig(parsed.options, stored, ports_, config, error);
    }

    std::string dir_;
    std::vector<std::string> ports_ = {"/dev/ttyS0", "/dev/ttyUSB0"};
};

}  // namespace

TEST_F(CliConfigTest, StoredSettingsFillWhatTheCommandLineOmits)
{
    const std::string ini = "[PortSettings]\nName=/dev/ttyUSB0\nSpeed=9600\nHandshake=1\n"
                            "[DeviceSettings]\nDevice_Type=1\n[ProgramSettings]\nResetPWR=1\n"
                            "[LoadPath_Power]\nPath01=/images/pb.ldr\n[Test]\nSoftwareBreak=Sleep\n";
    CliConfig config;
    std::string error;
    ASSERT_TRUE(Resolve({}, ini, config, error)) << error;
    EXPECT_EQ(config.portName, "/dev/ttyUSB0");
    EXPECT_EQ(config.speed, 9600u);
    EXPECT_EQ(config.handshake, 1);
    EXPECT_EQ(config.deviceKind, 1);
    EXPECT_EQ(config.captureMethod, 1);
    EXPECT_EQ(config.ramPath, "/images/pb.ldr");
    EXPECT_EQ(config.flashPath, "") << "a power board has no Flash image";
    EXPECT_EQ(config.softBreakVariant, 1);

    ASSERT_TRUE(Resolve({"-d", "rec", "-s", "460800", "-hs", "none", "-c", "hard", "-r", "r.ldr"}, ini, config, error));
    EXPECT_EQ(config.deviceKind, 0);
    EXPECT_EQ(config.speed, 460800u);
    EXPECT_EQ(config.handshake, 0);
    EXPECT_EQ(config.captureMethod, 2);
    EXPECT_EQ(config.ramPath, "r.ldr");
    EXPECT_EQ(config.flashPath, "main.ldp");
}

// A VDK-1 run's way to the unit comes from the settings file unless --vdk-lines says.
TEST_F(CliConfigTest, VdkLinesFromTheSettingsOrTheOption)
{
    CliConfig config;
    std::string error;
    ASSERT_TRUE(Resolve({}, "[ProgramSettings]\nVdkLines=control\nVdkBitBangRate=100000\n", config, error));
    EXPECT_EQ(config.vdkLines.lines, VdkLines::Control);
    EXPECT_EQ(config.vdkLines.bitBangRate, 100000u);
    ASSERT_TRUE(Resolve({}, "[ProgramSettings]\nVdkLines=fast\nVdkBitBangRate=5\n", config, error));
    EXPECT_EQ(config.vdkLines.lines, VdkLines::Auto);
    EXPECT_EQ(config.vdkLines.bitBangRate, VdkLineSettings().bitBangRate);

    EXPECT_EQ(ParseCliArguments({"kestrum-cli", "load", "-d", "vdk1", "--vdk-lines", "bitbang"}).vdkLines,
              VdkLines::BitBang);
    EXPECT_FALSE(ParseCliArguments({"kestrum-cli", "load", "-d", "vdk1"}).vdkLines);
    EXPECT_EQ(ParseCliArguments({"kestrum-cli", "load", "--vdk-lines", "fast"}).error,
              "--vdk-lines must be auto, bitbang or control, not fast");
    EXPECT_EQ(ParseCliArguments({"kestrum-cli", "load", "--vdk-lines"}).error,
              "option --vdk-lines needs a value");
}

TEST_F(CliConfigTest, NoSettingsFileGivesTheProgramDefaults)
{
    CliConfig config;
    std::string error;
    ASSERT_TRUE(Resolve({}, "", config, error));
    EXPECT_EQ(config.portName, "/dev/ttyS0");
    EXPECT_EQ(config.speed, 115200u);
    EXPECT_EQ(config.deviceKind, 0);
    EXPECT_EQ(config.captureMethod, 0);
    EXPECT_EQ(config.ramPath, "ramimage.ldr");
    EXPECT_EQ(config.flashPath, "main.ldp");
    EXPECT_EQ(config.softBreakVariant, 0);
}

TEST_F(CliConfigTest, StoredNonsenseFallsBackQuietly)
{
    CliConfig config;
    std::string error;
    ASSERT_TRUE(Resolve({}, "[PortSettings]\nName=COM7\nSpeed=12345\n[DeviceSettings]\nDevice_Type=9\n"
                            "[ProgramSettings]\nResetRec=7\n[Test]\nSoftwareBreak=sleep\n",
                        config, error));
    EXPECT_EQ(config.portName, "/dev/ttyS0");
    EXPECT_EQ(config.speed, 115200u);
    EXPECT_EQ(config.deviceKind, 0);
    EXPECT_EQ(config.captureMethod, 0);
    EXPECT_EQ(config.softBreakVariant, 0) << "only \"Sleep\" selects the sleep command";
}

// A settings file named on purpose that cannot be used is said to be unused, not passed over.
TEST_F(CliConfigTest, UnusableExplicitSettingsFileIsReportedAndTheDefaultsApply)
{
    const std::string good = dir_ + "/good.ini";
    std::ofstream(good) << "[PortSettings]\nSpeed=9600\n";
    const std::string large = dir_ + "/large.ini";
    std::ofstream(large) << std::string(CSettingsFile::kMaxFileSize + 1, ';');
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {dir_ + "/absent.ini", dir_ + "/absent.ini does not exist"},
        {dir_, "Not a regular file: " + dir_},
        {large, "Settings file too large: " + large},
    };
    for (const auto& c : cases) {
        std::string warning;
        EXPECT_EQ(FindSettingsFileReadOnly(SettingsEnvironment{c.path, dir_, "", ""}, warning), "");
        EXPECT_EQ(warning, "KESTRUM_INI: " + c.reason + "; going on with the default settings");
    }
    std::string warning = "stale";
    EXPECT_EQ(FindSettingsFileReadOnly(SettingsEnvironment{good, dir_, "", ""}, warning), good);
    EXPECT_EQ(warning, "");
}

TEST_F(CliConfigTest, InstalledCopyReadsTheUsersSettingsNeverOnesBesideIt)
{
    std::system(("mkdir -p " + dir_ + "/usr/bin " + dir_ + "/home/.config/kestrum").c_str());
    std::ofstream(dir_ + "/usr/bin/kestrum.ini") << "[PortSettings]\nSpeed=9600\n";
    std::ofstream(dir_ + "/home/.config/kestrum/kestrum.ini") << "[PortSettings]\nSpeed=57600\n";
    SettingsEnvironment environment{"", dir_ + "/usr/bin", "", dir_ + "/home"};
    std::string warning;
    EXPECT_EQ(FindSettingsFileReadOnly(environment, warning), dir_ + "/usr/bin/kestrum.ini");
    environment.installTrees = {dir_ + "/usr"};
    EXPECT_EQ(FindSettingsFileReadOnly(environment, warning), dir_ + "/home/.config/kestrum/kestrum.ini");
    EXPECT_EQ(warning, "");
}

TEST_F(CliConfigTest, MeaninglessCommandLineValuesAreRefused)
{
    const std::vector<std::vector<std::string>> cases = {
        {"-p", "3"}, {"-p", "/dev/none"}, {"-s", "12345"}, {"-hs", "RTS"}, {"-d", "gps"}, {"-c", "Soft"}};
    for (const auto& words : cases) {
        CliConfig config;
        std::string error;
        EXPECT_FALSE(Resolve(words, "", config, error)) << words[0] << " " << words[1];
        EXPECT_NE(error.find(words[1] == "3" ? "COM3" : words[1]), std::string::npos) << error;
    }
}

TEST(CliArguments, CommandsAndMistakes)
{
    EXPECT_EQ(ParseCliArguments({"kestrum-cli", "info", "--json", "-d", "vdk1"}).command, CliArguments::Command::Info);
    EXPECT_TRUE(ParseCliArguments({"kestrum-cli", "info", "--json"}).json);
    EXPECT_NE(ParseCliArguments({"kestrum-cli"}).error, "");
    EXPECT_NE(ParseCliArguments({"kestrum-cli", "flash"}).error, "");
    EXPECT_NE(ParseCliArguments({"kestrum-cli", "load", "-p"}).error, "") << "an option without its value";
    EXPECT_NE(ParseCliArguments({"kestrum-cli", "load", "-P", "x"}).error, "") << "options are case-sensitive";
    const CliArguments valueLikeOption = ParseCliArguments({"kestrum-cli", "load", "-r", "-a"});
    EXPECT_EQ(valueLikeOption.error, "");
    EXPECT_EQ(valueLikeOption.options.ramFile, "-a");
    EXPECT_EQ(ParseCliArguments({"kestrum-cli", "--version"}).command, CliArguments::Command::Version);
    EXPECT_TRUE(ParseCliArguments({"kestrum-cli", "ports", "--json"}).json);
}

TEST(CliArguments, TraceBeforeTheCommandOrAmongItsOptions)
{
    const CliArguments before =
        ParseCliArguments({"kestrum-cli", "--trace", "t.txt", "load", "-p", "/dev/ttyUSB0"});
    EXPECT_EQ(before.error, "");
    EXPECT_EQ(before.command, CliArguments::Command::Load);
    EXPECT_EQ(before.traceFile, "t.txt");
    EXPECT_EQ(before.options.port, "/dev/ttyUSB0");

    const CliArguments among =
        ParseCliArguments({"kestrum-cli", "info", "-p", "/dev/ttyS0", "--trace", "u", "--json"});
    EXPECT_EQ(among.error, "");
    EXPECT_EQ(among.traceFile, "u");
    EXPECT_TRUE(among.json);
    EXPECT_EQ(among.options.port, "/dev/ttyS0");

    // A file named like an option is still the value of the option before it.
    const CliArguments value = ParseCliArguments({"kestrum-cli", "load", "-r", "--trace", "-f", "x.ldp"});
    EXPECT_EQ(value.error, "");
    EXPECT_EQ(value.traceFile, "");
    EXPECT_EQ(value.options.ramFile, "--trace");
    EXPECT_EQ(value.options.flashFile, "x.ldp");

    for (const std::vector<std::string>& words : {std::vector<std::string>{"kestrum-cli", "--trace"},
                                                  {"kestrum-cli", "--trace", "t.txt"},
                                                  {"kestrum-cli", "load", "--trace"}}) {
        const CliArguments mistake = ParseCliArguments(words);
        EXPECT_NE(mistake.error, "") << words.back();
    }
    EXPECT_EQ(ParseCliArguments({"kestrum-cli", "--trace"}).error, "option --trace needs a value");
}
