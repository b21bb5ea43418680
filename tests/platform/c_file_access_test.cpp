// What a file's attributes allow, and the lock that programs sharing a file take turns
// with: on every system the program is built for.
#include "platform/c_file.h"
#include "platform/c_file_lock.h"

#include "app/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kestrum;

// A file without write permission is write-protected (read-only on Windows); a missing
// file is neither protected nor writable. Root may still write a protected file on Linux,
// so only the protection is asserted there.
TEST(FileAccess, WriteProtectionFollowsTheFilesPermissions)
{
    TempDir dir;
    const std::string path = dir / "kestrum.ini";
    WriteFile(path, "[A]\n");
    EXPECT_FALSE(CFile::WriteProtected(path));
    EXPECT_TRUE(CFile::Writable(path));

    namespace fs = std::filesystem;
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_TRUE(CFile::WriteProtected(path));
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_FALSE(CFile::WriteProtected(path));

    EXPECT_FALSE(CFile::WriteProtected(dir / "missing.ini"));
    EXPECT_FALSE(CFile::Writable(dir / "missing.ini"));
}

// The lock is one holder's at a time, also between two objects of one program; a waiter
// gives up after its wait with the reason, and gets the lock once the holder is gone.
TEST(FileAccess, LockIsHeldByOneObjectAtATimeAndReleasedWithIt)
{
    TempDir dir;
    const std::string lockPath = dir / "kestrum.ini.lock";
    {
        const CFileLock holder(lockPath, std::chrono::milliseconds(0));
        ASSERT_EQ(holder.Result(), CFileLock::State::Held) << holder.Error();
        EXPECT_TRUE(holder.Error().empty());
        const CFileLock waiter(lockPath, std::chrono::milliseconds(30));
        EXPECT_EQ(waiter.Result(), CFileLock::State::TimedOut);
        EXPECT_NE(waiter.Error().find(lockPath), std::string::npos) << waiter.Error();
    }
    const CFileLock next(lockPath, std::chrono::milliseconds(0));
    EXPECT_EQ(next.Result(), CFileLock::State::Held) << next.Error();
    EXPECT_TRUE(std::filesystem::exists(lockPath)) << "the lock file stays for the next program";

    const CFileLock nowhere(dir / "no/such/dir/kestrum.ini.lock", std::chrono::milliseconds(0));
    EXPECT_EQ(nowhere.Result(), CFileLock::State::Unusable);
    EXPECT_FALSE(nowhere.Error().empty());
}
