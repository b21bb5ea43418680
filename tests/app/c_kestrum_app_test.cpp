#include "app/c_kestrum_app.h"

#include "app/port_list.h"
#include "app/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kestrum;

namespace {

class KestrumAppTest : public ::testing::Test {
protected:
    KestrumAppTest()
    {
        std::filesystem::create_directories(dir_ / "bin");
        environment_.settings.programDir = dir_ / "bin";
        environment_.ttyClassDir = dir_ / "no-ttys";
        environment_.deviceDir = dir_ / "no-dev";
    }

    std::string IniPath() const { return dir_ / "bin/kestrum.ini"; }

    bool Start(CKestrumApp& app, std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "kestrum");
        std::string error;
        const bool started = app.Start(arguments, environment_, error);
        EXPECT_EQ(started, error.empty()) << error;
        return started;
    }

    bool Listed(const CKestrumApp& app, const std::string& name)
    {
        const auto& ports = app.PortList();
        return std::find(ports.begin(), ports.end(), name) != ports.end();
    }

    TempDir dir_;
    AppEnvironment environment_;
};

}  // namespace

TEST_F(KestrumAppTest, FirstRunCreatesTheFileAndStartsWithTheFlagOn)
{
    CKestrumApp app;
    ASSERT_TRUE(Start(app, {}));
    EXPECT_TRUE(std::filesystem::exists(IniPath()));
    EXPECT_EQ(app.Settings().Path(), IniPath());
    EXPECT_EQ(app.PortList(), std::vector<std::string>{kFallbackPortName});
    EXPECT_EQ(app.DefaultPortName(), kFallbackPortName);
    EXPECT_FALSE(app.Options().hasArguments);
    EXPECT_FALSE(app.HelpOnly());

    app.ReadSaveFlag();
    EXPECT_TRUE(app.SaveSettingsOnExit());
    ASSERT_TRUE(app.ExitInstance());
    EXPECT_EQ(ReadFile(IniPath()), "[Activate]\nSaveSett=1\n");
}

TEST_F(KestrumAppTest, TheFlagIsStoredAtExitEvenWhenOffAndReadOnTheNextRun)
{
    {
        CKestrumApp app;
        ASSERT_TRUE(Start(app, {}));
        app.ReadSaveFlag();
        app.SetSaveSettingsOnExit(false);
        ASSERT_TRUE(app.ExitInstance());
    }
    CKestrumApp next;
    ASSERT_TRUE(Start(next, {}));
    next.ReadSaveFlag();
    EXPECT_FALSE(next.SaveSettingsOnExit());

    // A hand-edited value that is not a number reads as 0, as the profile reader does.
    next.Settings().WriteText("activate", "savesett", "yes");
    next.ReadSaveFlag();
    EXPECT_FALSE(next.SaveSettingsOnExit());
}

TEST_F(KestrumAppTest, WithoutASettingsFileStartUpFailsWithTheReason)
{
    WriteFile(dir_ / "plain", "");
    environment_.settings.explicitPath = dir_ / "plain/kestrum.ini";
    CKestrumApp app;
    std::string error;
    EXPECT_FALSE(app.Start({"kestrum", "-a"}, environment_, error));
    EXPECT_NE(error.find("plain/kestrum.ini"), std::string::npos) << error;
    EXPECT_FALSE(app.Options().autoLoad);
}

// A file that is there but cannot be read gives the defaults, and the program says so.
TEST_F(KestrumAppTest, SettingsFileTooLargeToReadIsReportedAndTheDefaultsApply)
{
    WriteFile(IniPath(), "[Activate]\nSaveSett=0\n" + std::string(CSettingsFile::kMaxFileSize, ';'));
    CKestrumApp app;
    ASSERT_TRUE(Start(app, {}));
    EXPECT_EQ(app.StartWarning(), "Settings file too large: " + IniPath() + "; going on with the default settings");
    app.ReadSaveFlag();
    EXPECT_TRUE(app.SaveSettingsOnExit());

    WriteFile(IniPath(), "[Activate]\nSaveSett=0\n");
    CKestrumApp fine;
    ASSERT_TRUE(Start(fine, {}));
    EXPECT_EQ(fine.StartWarning(), "");
}

TEST_F(KestrumAppTest, HelpOnlyWhenAHelpWordComesFirst)
{
    CKestrumApp help;
    ASSERT_TRUE(Start(help, {"-help"}));
    EXPECT_TRUE(help.HelpOnly());

    CKestrumApp load;
    ASSERT_TRUE(Start(load, {"-a", "-help"}));
    EXPECT_FALSE(load.HelpOnly());
    EXPECT_TRUE(load.Options().autoLoad);
}

TEST_F(KestrumAppTest, PortsNamedOnTheCommandLineOrStoredBecomeChoosable)
{
    WriteFile(IniPath(), "[PortSettings]\nName=rfc2217://localhost:7000\n");
    CKestrumApp app;
    ASSERT_TRUE(Start(app, {"-p", "/dev/null", "-a"}));
    EXPECT_EQ(app.Options().port, "/dev/null");
    EXPECT_TRUE(Listed(app, "/dev/null"));
    EXPECT_TRUE(Listed(app, "rfc2217://localhost:7000"));
    EXPECT_EQ(app.DefaultPortName(), kFallbackPortName);

    CKestrumApp other;
    ASSERT_TRUE(Start(other, {"-p", "com3"}));
    EXPECT_EQ(other.Options().port, "COMcom3");
    EXPECT_FALSE(Listed(other, "COMcom3"));
}
