// Image files that only POSIX systems make: named pipes and the /dev devices. The Windows
// build leaves this file out.
#include "loader/c_image_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "unique_test_dir.h"

using namespace kestrum;

namespace {

class ImageFilesPosix : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = kestrum::test::MakeUniqueTestDir("kestrum-image");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string dir_;
};

}  // namespace

// A pipe or a device named as an image would block the open or never end; neither may be
// taken for an empty or short image.
TEST_F(ImageFilesPosix, AnythingButARegularFileIsRefusedForWhatItIs)
{
    const std::string fifo = dir_ + "/pipe.ldp";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* kind;
    } cases[] = {{fifo, "a named pipe"}, {"/dev/zero", "a character device"}, {"/dev/null", "a character device"}};
    for (const auto& c : cases) {
        CImageFile image;
        auto opening = std::async(std::launch::async, [&] { return image.Open(c.path); });
        if (opening.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << c.path << ": the open waits for a writer";
            ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // lets the blocked open go on
        }
        EXPECT_FALSE(opening.get());
        EXPECT_EQ(image.ErrorText(), c.path + " is not a regular file (it is " + c.kind + ")");
        EXPECT_FALSE(image.IsOpen());
    }
}
