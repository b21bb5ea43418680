// The settings file's cases that need POSIX calls of their own (file modes and inodes,
// symbolic links, named pipes, fork); the Windows build leaves this file out.
#include "app/c_settings_file.h"

#include "app/ending_programs.h"
#include "app/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kestrum;
using namespace kestrum::test;

namespace {

class SettingsFilePosixTest : public ::testing::Test {
protected:
    std::string Path() const { return dir_ / "kestrum.ini"; }

    TempDir dir_;
};

}  // namespace

TEST_F(SettingsFilePosixTest, WriteReplacesTheFileAtomicallyAndKeepsItsMode)
{
    WriteFile(Path(), "[A]\nk=1\n");
    ASSERT_EQ(::chmod(Path().c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(Path().c_str(), &before), 0);

    CSettingsFile settings(Path());
    ASSERT_TRUE(settings.WriteInt("A", "k", 2));
    struct stat after {};
    ASSERT_EQ(::stat(Path().c_str(), &after), 0);
    // A new inode: the old file was replaced by rename, never truncated in place.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "kestrum.ini" || name == "kestrum.ini.lock") << name << " was left behind";
    }
}

TEST_F(SettingsFilePosixTest, WriteThroughASymbolicLinkReplacesItsTarget)
{
    const std::string target = dir_ / "real.ini";
    WriteFile(target, "[A]\nk=1\n");
    std::filesystem::create_symlink(target, Path());
    CSettingsFile settings(Path());
    ASSERT_TRUE(settings.WriteInt("A", "k", 5));
    EXPECT_TRUE(std::filesystem::is_symlink(Path()));
    EXPECT_EQ(ReadFile(target), "[A]\nk=5\n");
}

TEST_F(SettingsFilePosixTest, NamedPipeIsNeitherReadNorReplaced)
{
    ASSERT_EQ(::mkfifo(Path().c_str(), 0600), 0);
    CSettingsFile fifo(Path());
    EXPECT_EQ(fifo.GetInt("A", "k", 3), 3);  // must not hang waiting for a writer
    EXPECT_FALSE(fifo.WriteInt("A", "k", 1));
}

// Two programs that end at the same moment, round after round: every key of both is
// there, and the keys both write come all from one of them, never mixed.
TEST_F(SettingsFilePosixTest, TwoProgramsEndingTogetherLoseAndMixNoKey)
{
    for (int round = 0; round < 30; ++round) {
        WriteFile(Path(), kBeforeTheEnding);
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        pid_t programs[2];
        for (int program = 0; program < 2; ++program) {
            programs[program] = ::fork();
            ASSERT_GE(programs[program], 0);
            if (programs[program] == 0) {
                char start = 0;
                ::close(go[1]);
                const bool released = ::read(go[0], &start, 1) == 0;  // both wait for the close
                ::_exit(released && EndProgram(Path(), program + 1) ? 0 : 1);
            }
        }
        ::close(go[0]);
        ::close(go[1]);
        for (const pid_t pid : programs) {
            int status = -1;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        ASSERT_NO_FATAL_FAILURE(ExpectBothEndingsWhole(Path(), round));
    }
}
