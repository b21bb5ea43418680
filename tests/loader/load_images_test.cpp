// What a load does with image files that are not what they seem or change under it.
#include "load_fixture.h"

#include "loader/load_result.h"

#include <filesystem>
#include <system_error>

using namespace kestrum;
using namespace kestrum::test;

class LoadImages : public LoadFixture {};

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
        std::error_code error;
        if (++steps == 2)
            std::filesystem::resize_file(ramPath, 30, error);
        else if (steps == 8)
            std::filesystem::resize_file(flashPath, 700, error);
        EXPECT_FALSE(error) << error.message();
    };
    EXPECT_EQ(Run(*request), LOAD_OK);
    EXPECT_EQ(model_->LastRamImage(), ram);
    EXPECT_EQ(model_->FlashContents(), flash);
}
