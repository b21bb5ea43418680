// Loads whose device sends several answers in one write.
#include "load_fixture.h"

#include "loader/boot_protocol.h"
#include "loader/load_result.h"

using namespace kestrum;
using namespace kestrum::test;

class BurstLoad : public LoadFixture {};

// A device that programs while it receives answers the end frame only once it has written
// the image, and then sends the 0x06 and the final 0x1E in one write.
TEST_F(BurstLoad, EndFrameAcceptanceAndFinalAcknowledgementInOneWrite)
{
    for (const int writeMs : {0, 300}) {
        ReceiverConfig config;
        config.powerCycleAfterMs = 200;
        config.endAckWithFinal = true;
        config.flashWriteMs = writeMs;
        StartReceiver(config);
        auto request = Request(kPowerOnCapture, RamFile({true, 20, "", 100}), FlashFile({20, "7.0", 1500, true}));
        EXPECT_EQ(Run(*request), LOAD_OK) << writeMs;
        EXPECT_EQ(model_->FirmwareVersion(), "7.0");
        UnregisterSimPort(portName_);
    }
}

TEST_F(BurstLoad, StaleResendRequestBeforeTheAcceptanceStillMeansAccepted)
{
    for (const int frame : {0, 2}) {  // a data frame, and the end frame of a 1500-byte image
        ReceiverConfig config;
        config.powerCycleAfterMs = 200;
        config.flashFaults.staleRequestFrame = frame;
        StartReceiver(config);
        auto request = Request(kPowerOnCapture, RamFile({true, 20, "", 100}), FlashFile({20, "7.1", 1500, true}));
        EXPECT_EQ(Run(*request), LOAD_OK) << frame;
        EXPECT_EQ(model_->ResendsRequested(), 0) << "the frame went out once";
        EXPECT_EQ(model_->FirmwareVersion(), "7.1");
        UnregisterSimPort(portName_);
    }
}
