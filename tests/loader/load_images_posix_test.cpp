// A named pipe given as an image, which only POSIX systems make; the Windows build leaves
// this file out.
#include "load_fixture.h"

#include "loader/load_result.h"

#include <fcntl.h>
#include <future>
#include <sys/stat.h>

using namespace kestrum;
using namespace kestrum::test;

class LoadImagesPosix : public LoadFixture {};

TEST_F(LoadImagesPosix, NamedPipeAsAnImageEndsAsAFileErrorWithoutWaitingForAWriter)
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
