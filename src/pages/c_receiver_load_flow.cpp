#include "pages/c_receiver_load_flow.h"

#include <filesystem>

#include "loader/load_result.h"

namespace kestrum {

namespace {

// What a directory search finds: anything at all under that name.
bool Exists(const std::string& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::exists(path, error);
}

}  // namespace

CReceiverLoadFlow::CReceiverLoadFlow(CStatusChannel& pageStatus, std::shared_ptr<CEvent> cancel)
    : cancel_(std::move(cancel)), session_(pageStatus), progressSteps_(std::make_shared<std::atomic<int>>(0))
{
}

CReceiverLoadFlow::~CReceiverLoadFlow() = default;

CReceiverLoadFlow::FileCheck CReceiverLoadFlow::CheckReceiverFiles(const std::string& ram, const std::string& flash)
{
    if (ram.empty())
        return {"Enter the RAM file path", false};
    if (flash.empty())
        return {"Enter the Flash file path", false};
    if (!Exists(ram))
        return {"Can't open RAM file", true};
    if (!Exists(flash))
        return {"Can't open Flash file", true};
    ramPath_ = ram;
    flashPath_ = flash;
    return {"", true};
}

CReceiverLoadFlow::FileCheck CReceiverLoadFlow::CheckPowerBoardImage(const std::string& image)
{
    flashPath_.clear();
    if (image.empty())
        return {"Enter the Flash file path", false};
    if (!Exists(image))
        return {"Can't open Flash file", false};
    ramPath_ = image;
    return {"", true};
}

void CReceiverLoadFlow::Begin(int captureMethod)
{
    retries_ = captureMethod == kSoftBreakCapture ? kSoftBreakRetries : 0;
}

int CReceiverLoadFlow::Start(int captureMethod, LoadSetup setup)
{
    captureDialogAllowed_ = true;
    starting_ = true;
    int started = Attempt(captureMethod, setup);
    if (started == CLoadSession::kConnectFailed && captureMethod == kSoftBreakCapture && retries_ > 0) {
        captureDialogAllowed_ = false;
        started = Attempt(kPowerOnCapture, std::move(setup));
    }
    starting_ = false;
    return started;
}

int CReceiverLoadFlow::Attempt(int captureMethod, LoadSetup setup)
{
    *progressSteps_ = 0;
    setup.ramPath = ramPath_;
    setup.flashPath = flashPath_;
    setup.cancel = cancel_;
    setup.progress = [steps = progressSteps_] { ++*steps; };
    return session_.StartLoad(captureMethod, setup);
}

int CReceiverLoadFlow::ResultOfFailedStart(int started)
{
    return started == CLoadSession::kConnectAborted ? LOAD_ABORTED : LOAD_GENERIC_ERROR;
}

CReceiverLoadFlow::Outcome CReceiverLoadFlow::TakeOutcome()
{
    const int result = session_.Request()->Result();
    session_.Join();
    if (result == LOAD_CANT_CAPTURE && --retries_ > 0)
        return {Next::Retry, result};
    retries_ = 0;
    return {Next::Finished, result};
}

void CReceiverLoadFlow::RequestStop()
{
    if (session_.Request())
        session_.Request()->RequestStop();
    for (int wait = 0; wait < 2 && session_.Running(); ++wait)
        session_.Request()->WaitDone(50);
}

void CReceiverLoadFlow::JoinEnded()
{
    if (!session_.Running())
        session_.Join();
}

void CReceiverLoadFlow::StopAndWait()
{
    session_.Stop();
}

}  // namespace kestrum
