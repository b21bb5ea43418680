#include "app/settings_location.h"

#include "app/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kestrum;

namespace {

class SettingsLocationTest : public ::testing::Test {
protected:
    SettingsLocationTest()
    {
        std::filesystem::create_directories(dir_ / "bin");
        std::filesystem::create_directories(dir_ / "home");
        WriteFile(dir_ / "plain", "");
        environment_.programDir = dir_ / "bin";
        environment_.home = dir_ / "home";
    }

    // A directory below a regular file: nothing can ever be created there, even by root.
    std::string Unusable() const { return dir_ / "plain/sub"; }

    TempDir dir_;
    SettingsEnvironment environment_;
};

}  // namespace

TEST_F(SettingsLocationTest, BesideTheProgramWhenItCanBeCreatedThere)
{
    const SettingsLocation location = PrepareSettingsFile(environment_);
    ASSERT_TRUE(location.Found()) << location.error;
    EXPECT_EQ(location.path, dir_ / "bin/kestrum.ini");
    EXPECT_EQ(ReadFile(location.path), "");

    WriteFile(location.path, "[Activate]\nSaveSett=0\n");
    ASSERT_TRUE(PrepareSettingsFile(environment_).Found());
    EXPECT_EQ(ReadFile(location.path), "[Activate]\nSaveSett=0\n");
}

TEST_F(SettingsLocationTest, ExplicitPathWinsAndIsNeverSilentlyReplaced)
{
    environment_.explicitPath = dir_ / "mine.ini";
    const SettingsLocation location = PrepareSettingsFile(environment_);
    ASSERT_TRUE(location.Found());
    EXPECT_EQ(location.path, dir_ / "mine.ini");
    EXPECT_TRUE(std::filesystem::exists(location.path));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "bin/kestrum.ini"));

    environment_.explicitPath = "relative.ini";
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_.Path());
    EXPECT_EQ(PrepareSettingsFile(environment_).path, dir_ / "relative.ini");
    std::filesystem::current_path(previous);

    environment_.explicitPath = Unusable() + "/mine.ini";
    const SettingsLocation failed = PrepareSettingsFile(environment_);
    EXPECT_FALSE(failed.Found());
    EXPECT_NE(failed.error.find("KESTRUM_INI"), std::string::npos) << failed.error;
    EXPECT_NE(failed.error.find(environment_.explicitPath), std::string::npos) << failed.error;
}

TEST_F(SettingsLocationTest, ReadOnlyInstallFallsBackToTheUsersConfigDirectory)
{
    environment_.programDir = Unusable();
    const SettingsLocation fromHome = PrepareSettingsFile(environment_);
    ASSERT_TRUE(fromHome.Found()) << fromHome.error;
    EXPECT_EQ(fromHome.path, dir_ / "home/.config/kestrum/kestrum.ini");
    EXPECT_TRUE(std::filesystem::is_regular_file(fromHome.path));

    environment_.configHome = dir_ / "xdg";
    const SettingsLocation fromXdg = PrepareSettingsFile(environment_);
    ASSERT_TRUE(fromXdg.Found());
    EXPECT_EQ(fromXdg.path, dir_ / "xdg/kestrum/kestrum.ini");

    // A relative XDG_CONFIG_HOME is not a valid setting and is ignored.
    environment_.configHome = "relative/xdg";
    EXPECT_EQ(PrepareSettingsFile(environment_).path, fromHome.path);
}

TEST_F(SettingsLocationTest, NoPlaceAtAllGivesEveryReason)
{
    environment_.programDir = Unusable();
    environment_.configHome = Unusable();
    const SettingsLocation location = PrepareSettingsFile(environment_);
    EXPECT_FALSE(location.Found());
    EXPECT_NE(location.error.find(Unusable() + "/kestrum.ini"), std::string::npos) << location.error;
    EXPECT_NE(location.error.find(Unusable() + "/kestrum"), std::string::npos) << location.error;

    SettingsEnvironment nothing;
    EXPECT_FALSE(PrepareSettingsFile(nothing).Found());
    EXPECT_FALSE(PrepareSettingsFile(nothing).error.empty());
}

// A file the user made read-only is the settings file all the same, marked so that
// nothing is ever written to it (not even by root, who could), wherever it is found.
TEST_F(SettingsLocationTest, ReadOnlyFileIsUsedAsItStands)
{
    const std::string content = "[PortSettings]\nSpeed=9600\n";
    const std::string explicitPath = dir_ / "mine.ini";
    const std::string beside = dir_ / "bin/kestrum.ini";
    const std::string perUser = dir_ / "home/.config/kestrum/kestrum.ini";
    std::filesystem::create_directories(dir_ / "home/.config/kestrum");
    for (const std::string& path : {explicitPath, beside, perUser}) {
        WriteFile(path, content);
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    }
    environment_.explicitPath = explicitPath;
    const SettingsLocation named = PrepareSettingsFile(environment_);
    EXPECT_TRUE(named.Found() && named.readOnly) << named.error;
    EXPECT_EQ(named.path, explicitPath);

    environment_.explicitPath.clear();
    const SettingsLocation besideProgram = PrepareSettingsFile(environment_);
    EXPECT_TRUE(besideProgram.Found() && besideProgram.readOnly) << besideProgram.error;
    EXPECT_EQ(besideProgram.path, beside);

    environment_.programDir = Unusable();
    const SettingsLocation fromHome = PrepareSettingsFile(environment_);
    EXPECT_TRUE(fromHome.Found() && fromHome.readOnly) << fromHome.error;
    EXPECT_EQ(fromHome.path, perUser);
    for (const std::string& path : {explicitPath, beside, perUser}) {
        EXPECT_EQ(ReadFile(path), content);
    }

    ASSERT_EQ(::chmod(perUser.c_str(), 0644), 0);
    EXPECT_FALSE(PrepareSettingsFile(environment_).readOnly);
}

TEST_F(SettingsLocationTest, SomethingThatIsNoRegularFileIsRefused)
{
    std::filesystem::create_directories(dir_ / "bin/kestrum.ini");
    const SettingsLocation location = PrepareSettingsFile(environment_);
    ASSERT_TRUE(location.Found());
    EXPECT_EQ(location.path, dir_ / "home/.config/kestrum/kestrum.ini");

    environment_.explicitPath = "/dev/null";
    EXPECT_FALSE(PrepareSettingsFile(environment_).Found());
}

// The program directory of an installed copy stays untouched even where it could be
// written (root may write /usr/bin): the settings are the user's own.
TEST_F(SettingsLocationTest, InstalledCopyKeepsItsSettingsWithTheUser)
{
    std::filesystem::create_directories(dir_ / "usr/bin");
    std::filesystem::create_directories(dir_ / "usrlocal/bin");
    environment_.installTrees = {dir_ / "opt", dir_ / "usr"};
    environment_.programDir = dir_ / "usr/bin";
    const SettingsLocation installed = PrepareSettingsFile(environment_);
    ASSERT_TRUE(installed.Found()) << installed.error;
    EXPECT_EQ(installed.path, dir_ / "home/.config/kestrum/kestrum.ini");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "usr/bin/kestrum.ini"));
    EXPECT_EQ(BesideProgramPath(environment_), "");

    // Not even a file that is there already is used.
    WriteFile(dir_ / "usr/bin/kestrum.ini", "[Activate]\nSaveSett=0\n");
    EXPECT_EQ(PrepareSettingsFile(environment_).path, installed.path);

    // A folder whose name merely begins like an install tree is no part of it.
    environment_.programDir = dir_ / "usrlocal/bin";
    EXPECT_EQ(PrepareSettingsFile(environment_).path, dir_ / "usrlocal/bin/kestrum.ini");
    environment_.programDir = dir_ / "usr/../usrlocal/bin";
    EXPECT_EQ(BesideProgramPath(environment_), dir_ / "usr/../usrlocal/bin/kestrum.ini");
}

TEST(SettingsEnvironment, TheProcessTakesUsrAndOptAsInstallTrees)
{
    const std::vector<std::string> trees = {"/usr", "/opt"};
    EXPECT_EQ(SettingsEnvironment::FromProcess().installTrees, trees);
}
