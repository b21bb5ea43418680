#include "app/c_settings_file.h"

#include "app/ending_programs.h"
#include "app/temp_dir.h"
#include "platform/c_file_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>
#include <vector>


using namespace kestrum;
using namespace kestrum::test;

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    std::string Path() const { return dir_ / "kestrum.ini"; }

    TempDir dir_;
};

}  // namespace

TEST_F(SettingsFileTest, MissingFileGivesDefaultsAndFirstWriteCreatesIt)
{
    CSettingsFile settings(Path());
    EXPECT_EQ(settings.GetInt("Activate", "SaveSett", 1), 1);
    EXPECT_EQ(settings.GetText("PortSettings", "Name", "COM1"), "COM1");
    EXPECT_FALSE(std::filesystem::exists(Path()));

    ASSERT_TRUE(settings.WriteInt("Activate", "SaveSett", 0));
    EXPECT_EQ(ReadFile(Path()), "[Activate]\nSaveSett=0\n");
    EXPECT_EQ(settings.GetInt("Activate", "SaveSett", 1), 0);
}

TEST_F(SettingsFileTest, IntegersReadLikeTheProfileReader)
{
    const std::vector<std::pair<std::string, int>> cases = {
        {"42", 42}, {"-7", -7}, {"+5", 5}, {"12abc", 12}, {"abc", 0}, {"-", 0}, {"0x10", 0}, {"\"17\"", 17},
        {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"-2147483648", INT_MIN},
    };
    CSettingsFile settings(Path());
    for (const auto& [text, expected] : cases) {
        ASSERT_TRUE(settings.WriteText("Numbers", "Value", text));
        EXPECT_EQ(settings.GetInt("Numbers", "Value", -1), expected) << "stored text: " << text;
    }
    ASSERT_TRUE(settings.WriteInt("Numbers", "Value", -123));
    EXPECT_EQ(settings.GetText("Numbers", "Value", ""), "-123");
}

TEST_F(SettingsFileTest, NamesMatchWithoutRegardToCaseAndKeepTheFilesSpelling)
{
    WriteFile(Path(), "[PortSettings]\nSpeed=9600\n");
    CSettingsFile settings(Path());
    EXPECT_EQ(settings.GetInt("portsettings", "SPEED", 0), 9600);
    ASSERT_TRUE(settings.WriteInt("PORTSETTINGS", "speed", 19200));
    EXPECT_EQ(ReadFile(Path()), "[PortSettings]\nSpeed=19200\n");
}

TEST_F(SettingsFileTest, ReadsFollowTheProfileReadersRules)
{
    WriteFile(Path(), "[ LoadPath ]\n  Ram  =  \"C:\\a b.ldr\"  \nFlash='x'\nOdd=\"y'\nEmpty=\n"
                      "[A]\nk=1\nk=2\n[a]\nk=4\n");
    CSettingsFile settings(Path());
    EXPECT_EQ(settings.GetText("LoadPath", "Ram", ""), "C:\\a b.ldr");
    EXPECT_EQ(settings.GetText("LoadPath", "Flash", ""), "x");
    EXPECT_EQ(settings.GetText("LoadPath", "Odd", ""), "\"y'");
    // A key that is there with nothing after '=' is an empty text, but no integer.
    EXPECT_EQ(settings.GetText("LoadPath", "Empty", "d"), "");
    EXPECT_EQ(settings.GetInt("LoadPath", "Empty", 7), 7);
    EXPECT_EQ(settings.GetText("LoadPath", "Absent", "d"), "d");
    EXPECT_EQ(settings.GetText("Absent", "Ram", "d"), "d");
    // The first section and the first key of a name win, for reading and for writing.
    EXPECT_EQ(settings.GetInt("a", "K", 0), 1);
    ASSERT_TRUE(settings.WriteInt("a", "K", 9));
    EXPECT_EQ(settings.GetInt("A", "k", 0), 9);
    EXPECT_NE(ReadFile(Path()).find("[A]\nk=9\nk=2\n[a]\nk=4\n"), std::string::npos);
}

TEST_F(SettingsFileTest, RewriteKeepsEverythingItDoesNotUnderstand)
{
    const std::string original =
        "; written by hand\r\n"
        "[Test]\r\n"
        "# not a key=really\r\n"
        "a line without equals\r\n"
        "Hidden=1\r\n"
        "\r\n"
        "[PortSettings]\r\n"
        "Name=COM2\r\n"
        "\r\n"
        "[Unknown]\r\n"
        "Other=x";
    WriteFile(Path(), original);
    CSettingsFile settings(Path());
    EXPECT_EQ(settings.GetText("Test", "# not a key", "none"), "none");
    ASSERT_TRUE(settings.WriteText("PortSettings", "Speed", "57600"));
    ASSERT_TRUE(settings.WriteInt("Test", "Hidden", 0));
    ASSERT_TRUE(settings.WriteInt("Activate", "SaveSett", 1));
    EXPECT_EQ(ReadFile(Path()),
              "; written by hand\r\n"
              "[Test]\r\n"
              "# not a key=really\r\n"
              "a line without equals\r\n"
              "Hidden=0\r\n"
              "\r\n"
              "[PortSettings]\r\n"
              "Name=COM2\r\n"
              "Speed=57600\r\n"
              "\r\n"
              "[Unknown]\r\n"
              "Other=x\r\n"
              "\r\n"
              "[Activate]\r\n"
              "SaveSett=1\r\n");
}

// A stray CR inside a file with LF line ends belongs to its line: rewrites keep it, however
// many there are.
TEST_F(SettingsFileTest, StrayCarriageReturnsSurviveEveryRewrite)
{
    const std::string original = "[Test]\nNote=x\r\r\nOdd=y\r\n[MnFrm]\nXPos=1\n";
    WriteFile(Path(), original);
    CSettingsFile settings(Path());
    for (int pos = 2; pos < 5; ++pos)
        ASSERT_TRUE(settings.WriteInt("MnFrm", "XPos", pos));
    EXPECT_EQ(ReadFile(Path()), "[Test]\nNote=x\r\r\nOdd=y\r\n[MnFrm]\nXPos=4\n");
    EXPECT_EQ(settings.GetText("Test", "Odd", ""), "y");
    EXPECT_EQ(settings.GetText("Test", "Note", ""), "x");
}

TEST_F(SettingsFileTest, TextThatWouldBreakTheFormatIsRefusedAndTheFileKept)
{
    WriteFile(Path(), "[A]\nk=1\n");
    CSettingsFile settings(Path());
    EXPECT_FALSE(settings.WriteText("A", "k", "two\nlines"));
    EXPECT_FALSE(settings.WriteText("A", "k=", "v"));
    EXPECT_FALSE(settings.WriteText("A", "", "v"));
    EXPECT_FALSE(settings.WriteText("A]x", "k", "v"));
    EXPECT_FALSE(settings.WriteText("A", ";k", "v"));
    EXPECT_FALSE(settings.LastWriteError().empty());
    EXPECT_EQ(ReadFile(Path()), "[A]\nk=1\n");
    EXPECT_TRUE(settings.WriteText("A", "k", "a=b;c"));
    EXPECT_EQ(settings.GetText("A", "k", ""), "a=b;c");
    EXPECT_TRUE(settings.LastWriteError().empty());
}

TEST_F(SettingsFileTest, WriteFailuresAreReportedNotFatal)
{
    CSettingsFile inMissingDir(dir_ / "no/such/dir/kestrum.ini");
    EXPECT_FALSE(inMissingDir.WriteInt("A", "k", 1));
    EXPECT_NE(inMissingDir.LastWriteError().find("no/such/dir"), std::string::npos);

    CSettingsFile noPath;
    EXPECT_EQ(noPath.GetInt("A", "k", 7), 7);
    EXPECT_FALSE(noPath.WriteInt("A", "k", 1));
}

TEST_F(SettingsFileTest, FileTooLargeForSettingsIsNeitherReadNorReplaced)
{
    const std::string huge = "[A]\nk=1\n" + std::string(CSettingsFile::kMaxFileSize, ';');
    WriteFile(Path(), huge);
    CSettingsFile large(Path());
    EXPECT_EQ(large.GetInt("A", "k", 3), 3);
    EXPECT_FALSE(large.WriteInt("A", "k", 2));
    EXPECT_EQ(std::filesystem::file_size(Path()), huge.size());
}

TEST_F(SettingsFileTest, TwoObjectsOnOneFileSeeEachOthersWrites)
{
    CSettingsFile page(Path());
    CSettingsFile gui(Path());
    ASSERT_TRUE(page.WriteText("PortSettings", "Name", "/dev/ttyUSB0"));
    EXPECT_EQ(gui.GetText("PortSettings", "Name", ""), "/dev/ttyUSB0");
    ASSERT_TRUE(gui.WriteInt("MnFrm", "PosLeft", 10));
    EXPECT_EQ(page.GetInt("MnFrm", "PosLeft", 0), 10);
    EXPECT_EQ(page.GetText("PortSettings", "Name", ""), "/dev/ttyUSB0");
}

TEST_F(SettingsFileTest, ConcurrentWritersOfOneObjectLoseNoKey)
{
    CSettingsFile settings(Path());
    constexpr int kThreads = 4;
    constexpr int kKeys = 20;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&settings, t] {
            for (int k = 0; k < kKeys; ++k) {
                settings.WriteInt("T" + std::to_string(t), "K" + std::to_string(k), t * 100 + k);
                settings.GetInt("T0", "K0", 0);
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        for (int k = 0; k < kKeys; ++k) {
            EXPECT_EQ(settings.GetInt("T" + std::to_string(t), "K" + std::to_string(k), -1), t * 100 + k);
        }
    }
}

// Two objects of one file ending at the same moment, round after round, as two programs
// do: each takes the file's lock with a handle of its own, so they take turns with it
// within one program too.
TEST_F(SettingsFileTest, TwoObjectsEndingTogetherLoseAndMixNoKey)
{
    for (int round = 0; round < 30; ++round) {
        WriteFile(Path(), kBeforeTheEnding);
        std::atomic<bool> go{false};
        std::atomic<int> ended{0};
        std::vector<std::thread> programs;
        for (int program = 1; program <= 2; ++program) {
            programs.emplace_back([&, program] {
                while (!go)
                    std::this_thread::yield();
                ended += EndProgram(Path(), program) ? 1 : 0;
            });
        }
        go = true;
        for (auto& program : programs)
            program.join();
        ASSERT_EQ(ended, 2) << "round " << round;
        ASSERT_NO_FATAL_FAILURE(ExpectBothEndingsWhole(Path(), round));
    }
}

// Held writes are what readers see, but the file changes only once, at the end; a
// program that holds the lock too long makes that rewrite fail with the reason, the file
// untouched. A read-only object (or file) is never written.
TEST_F(SettingsFileTest, HeldWritesGoInOnceUnderABoundedLock)
{
    WriteFile(Path(), "[A]\nk=1\n");
    CSettingsFile settings(Path(), CSettingsFile::Access::ReadWrite, std::chrono::milliseconds(50));
    settings.HoldWrites();
    ASSERT_TRUE(settings.WriteInt("A", "k", 2));
    ASSERT_TRUE(settings.WriteText("B", "name", "x"));
    EXPECT_EQ(settings.GetInt("A", "k", 0), 2);
    EXPECT_EQ(ReadFile(Path()), "[A]\nk=1\n");
    {
        const CFileLock other(Path() + ".lock", std::chrono::milliseconds(0));
        ASSERT_EQ(other.Result(), CFileLock::State::Held);
        EXPECT_FALSE(settings.WriteHeld());
        EXPECT_NE(settings.LastWriteError().find("kestrum.ini.lock"), std::string::npos) << settings.LastWriteError();
        EXPECT_EQ(ReadFile(Path()), "[A]\nk=1\n");
    }
    settings.HoldWrites();
    ASSERT_TRUE(settings.WriteInt("A", "k", 3));
    ASSERT_TRUE(settings.WriteText("B", "name", "y"));
    ASSERT_TRUE(settings.WriteHeld());
    EXPECT_EQ(ReadFile(Path()), "[A]\nk=3\n\n[B]\nname=y\n");

    CSettingsFile readOnly(Path(), CSettingsFile::Access::ReadOnly);
    EXPECT_FALSE(readOnly.WriteInt("A", "k", 4));
    EXPECT_NE(readOnly.LastWriteError().find("read-only"), std::string::npos);
    std::filesystem::permissions(Path(), std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                             std::filesystem::perms::others_read);
    EXPECT_FALSE(settings.WriteInt("A", "k", 5));  // even root, who could, leaves it
    EXPECT_EQ(ReadFile(Path()), "[A]\nk=3\n\n[B]\nname=y\n");
}
