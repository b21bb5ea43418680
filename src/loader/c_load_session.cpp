#include "loader/c_load_session.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <filesystem>

#include "loader/c_load_run.h"
#include "platform/closing_flag.h"
#include "platform/message_pump.h"

namespace kestrum {

namespace {

// 64 bits wide: a long holds only 32 on Windows, where a file over 2 GiB would count
// as a negative size.
int64_t FileSize(const std::string& path)
{
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error))
        return -1;
    const auto size = std::filesystem::file_size(path, error);
    return error ? -1 : static_cast<int64_t>(size);
}

std::optional<std::string> PathOrNone(const std::string& path)
{
    return path.empty() ? std::nullopt : std::optional<std::string>(path);
}

}  // namespace

CLoadSession::CLoadSession(CStatusChannel& pageStatus) : pageStatus_(pageStatus) {}

CLoadSession::~CLoadSession()
{
    Stop();
}

// Counted in 64 bits and capped, so an absurdly large file cannot overflow the count.
int CLoadSession::ProgressSteps(const std::string& ramPath, const std::string& flashPath)
{
    int64_t steps = 1;
    if (const int64_t flash = FileSize(flashPath); flash >= 0)
        steps += flash / 512 + 1;
    if (const int64_t ram = FileSize(ramPath); ram >= 0)
        steps += ram / 1024 + 1;
    return static_cast<int>(std::min<int64_t>(steps, std::numeric_limits<int>::max()));
}

// The port must open and take the rate before a worker starts; for a soft-break capture
// the receiver must also answer, since only its command language can restart it.
// A network port's open takes a while: it keeps the caller's window alive and ends on
// its Cancel.
int CLoadSession::TestPort(int captureMethod, const LoadSetup& setup, CEvent& cancel)
{
    auto cancelled = [&cancel] {
        MessagePump::DispatchPending();
        return ClosingFlag::IsSet() || cancel.Test();
    };
    auto port = std::make_unique<CSerialPort>(setup.portName, setup.portTiming, cancelled);
    int result = kStarted;
    if (port->OpenCancelled()) {
        result = kConnectAborted;
    } else if (port->GetHandle() == nullptr) {
        port->PostOpenFailure(pageStatus_);
        result = kPortNotOpen;
    } else if (!port->SetBaudRate(setup.baudRate)) {
        pageStatus_.SetStatus(port->LastError());
        if (const std::string lost = port->LostConnectionText(); !lost.empty())
            pageStatus_.SetStatus(lost);
        result = kRateRefused;
    } else {
        port->SetHandshake(setup.flowControl);
        if (captureMethod == kSoftBreakCapture) {
            CReceiverLink receiver(setup.receiverSettings, setup.protocolTiming);
            receiver.StatusChannel().LinkTo(pageStatus_.Number());
            port->StatusChannel().LinkTo(pageStatus_.Number());
            port->StartReceive();
            const int connected = receiver.Connect(*port, setup.baudRate, setup.flowControl, &cancel, 1);
            if (connected != kConnected)
                result = connected == kConnectCancelled ? kConnectAborted : kConnectFailed;
        }
    }
    ClosePort(std::move(port));
    return result;
}

std::shared_ptr<LoadRequest> CLoadSession::FillRequest(int captureMethod, const LoadSetup& setup) const
{
    auto request = std::make_shared<LoadRequest>();
    request->portName = setup.portName;
    request->baudRate = setup.baudRate;
    request->flowControl = setup.flowControl;
    request->ramPath = PathOrNone(setup.ramPath);
    request->flashPath = PathOrNone(setup.flashPath);
    request->captureMethod = captureMethod;
    request->statusLink = setup.statusLink;
    if (setup.cancel)
        request->cancel = setup.cancel;
    request->softBreakVariant = setup.softBreakVariant;
    request->checkRam = true;
    request->checkFlash = setup.deviceKind == kLoadReceiver;
    request->deviceKind = setup.deviceKind;
    request->captureArea = setup.captureArea;
    request->progress = setup.progress;
    request->notify = setup.notify;
    request->timing = setup.timing;
    return request;
}

int CLoadSession::StartLoad(int captureMethod, const LoadSetup& setup)
{
    Stop();
    if (setup.setRange)
        setup.setRange(ProgressSteps(setup.ramPath, setup.flashPath));
    std::shared_ptr<LoadRequest> request = FillRequest(captureMethod, setup);
    if (const int tested = TestPort(captureMethod, setup, *request->cancel); tested != kStarted)
        return tested;
    request->MarkRunning();
    request_ = request;
    worker_ = std::thread([request, timing = setup.portTiming] { RunLoadWorker(request, timing); });
    return kStarted;
}

void CLoadSession::Stop()
{
    if (request_ && !request_->Done())
        request_->RequestStop();
    Join();
}

void CLoadSession::Join()
{
    if (worker_.joinable())
        worker_.join();
}

}  // namespace kestrum
