// What a load does with image files that are not what they seem or change under it.
#include "load_fixture.h"

#include "loader/load_result.h"

#include <fcntl.h>
#include <future>
#include <sys/stat.h>

using namespace kestrum;
using namespace kestrum::test;

class LoadImages : public LoadFixture {};

TEST_F(LoadImages, NamedPipeAsAnImageEndsAsAFileErrorWithoutWaitingForAWriter)
{
    StartReceiver();
    const std::string fifo = dir_ + "/main.ldp";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    LastTexts texts(status_);
    for (const bool asRam : {true, false}) {
        auto request = asRam ? Request(kSoftBreakCapture, fifo, "") : Request(kSoftBreakCapture, RamFile(), fifo);
        auto run = std::async(std::launch::async, [&] { return Run(*request); });
        if (run.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the load waits for a writer on the pipe";
            ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // lets the blocked open go on
        }
        EXPECT_EQ(run.get(), LOAD_FILE_ERROR);
        const std::string kind = asRam ? "RAM" : "Flash";
        EXPECT_TRUE(texts.Saw("Can't open " + kind + " file " + fifo + " is not a regular file (it is a named pipe)"));
    }
    EXPECT_EQ(model_->CurrentMode(), ReceiverModel::Mode::Firmware) << "nothing reached the device";
}

// The file is replaced by a shorter one half-way through each stage: the device still gets
// the image as it was when the load started.
TEST_F(LoadImages, ImageCutShortDuringTheLoadIsSentWhole)
{
    ReceiverConfig config;
    config.powerCycleAfterMs = 100;
    StartReceiver(config);
    const std::vector<uint8_t> ram = BuildRamImage({true, 20, "", 5000});
    const std::vector<uint8_t> flash = BuildFlashImage({20, "9.1", 6000, true});
    const std::string ramPath = WriteFile("ram.ldr", ram);
    const std::string flashPath = WriteFile("main.ldp", flash);
    auto request = Request(kPowerOnCapture, ramPath, flashPath);
    int steps = 0;
    request->progress = [&] {
        if (++steps == 2) {
            EXPECT_EQ(::truncate(ramPath.c_str(), 30), 0);
        } else if (steps == 8) {
            EXPECT_EQ(::truncate(flashPath.c_str(), 700), 0);
        }
    };
    EXPECT_EQ(Run(*request), LOAD_OK);
    EXPECT_EQ(model_->LastRamImage(), ram);
    EXPECT_EQ(model_->FlashContents(), flash);
}
