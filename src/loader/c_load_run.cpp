#include "loader/c_load_run.h"

#include "loader/block_sender.h"
#include "loader/boot_protocol.h"
#include "loader/c_boot_exchange.h"
#include "loader/c_capture.h"
#include "loader/c_load_line.h"
#include "loader/flash_stage.h"
#include "loader/load_result.h"
#include "platform/closing_flag.h"
#include "platform/message_pump.h"
#include "platform/thread_priority.h"

namespace kestrum {

namespace {
constexpr int kStageRam = 0, kStageFlash = 1, kStageRamChecked = 3, kStageFlashChecked = 4;
}

CLoadRun::CLoadRun(LoadRequest& request, const SerialPortTiming& portTiming)
    : request_(request), portTiming_(portTiming)
{
    status_.LinkTo(request_.statusLink);
}

CLoadRun::~CLoadRun()
{
    request_.AttachDevice(nullptr);
    ClosePort(std::move(port_));
}

int CLoadRun::Aborted()
{
    status_.SetStatus("Loading aborted by User");
    return LOAD_ABORTED;
}

int CLoadRun::Failed(int code)
{
    if (request_.StopRequested() && code != LOAD_ABORTED)
        return Aborted();
    return code;
}

void CLoadRun::PostStage(int stage, bool on)
{
    request_.Notify(WM_LOADER_STAGE, stage, on ? 1 : 0);
}

void CLoadRun::SetFlowControl()
{
    port_->SetHandshake(request_.flowControl);
}

int CLoadRun::Run()
{
    if (request_.cancel->Test() || request_.StopRequested())
        return Aborted();
    if (const int opened = OpenPort(); opened != LOAD_OK)
        return Failed(opened);
    if (!request_.ramPath && !request_.flashPath && request_.captureMethod == kPowerOnCapture)
        return LOAD_OK;
    if (const int images = OpenImages(); images != LOAD_OK)
        return images;
    if (request_.cancel->Test() || request_.StopRequested())
        return Aborted();
    CLoadLine line(*port_, request_, status_);
    if (!request_.ramPath && !request_.flashPath)
        return ResetOnly(line);
    return Load(line);
}

// No device is attached to the request while the port opens, so the open itself watches
// for a stop: a network port's negotiation would otherwise hold the run for seconds.
int CLoadRun::OpenPort()
{
    auto stopped = [this] {
        return request_.StopRequested() || request_.cancel->Test() || ClosingFlag::IsSet();
    };
    port_ = std::make_unique<CSerialPort>(request_.portName, portTiming_, stopped);
    port_->StatusChannel().LinkTo(status_.Number());
    if (port_->OpenCancelled())
        return Aborted();
    if (port_->GetHandle() == nullptr) {
        port_->PostOpenFailure(status_);
        return LOAD_GENERIC_ERROR;
    }
    for (const std::string& note : port_->OpenNotes())
        status_.SetStatus(note);
    request_.AttachDevice(port_->GetHandle());
    for (int i = 0; i < 2; ++i)
        port_->GetHandle()->SetDtr(false);
    for (int i = 0; i < 2; ++i)
        port_->GetHandle()->SetRts(false);
    if (!port_->SetBaudRate(request_.baudRate))
        return LOAD_BAUD_RATE_ERROR;
    const bool keepFlow = request_.captureMethod == kSoftBreakCapture && request_.softBreakVariant == 0;
    port_->SetHandshake(keepFlow ? request_.flowControl : 0);
    return LOAD_OK;
}

// Every reason an image cannot be used is found here, before anything goes to the device.
int CLoadRun::OpenImages()
{
    ramHeader_ = RamHeader{};
    ramHeader_.finalAcknowledge = 0xFFFFFFFF;  // without a RAM image the device is awaited
    std::string problem;
    if (request_.ramPath) {
        if (!OpenImage(ImageKind::Ram, *request_.ramPath, ram_, problem) ||
            !ReadRamHeader(ram_, ramHeader_, problem)) {
            status_.SetStatus(problem);
            return LOAD_FILE_ERROR;
        }
        if (!request_.checkRam)
            ramHeader_.targetDevice = -1;
        ram_.Seek(0);
    }
    // A Flash image shorter than its header would go out as a lone end frame, and the
    // device would be left without firmware: refused whether or not it is checked.
    if (request_.flashPath && !OpenImage(ImageKind::Flash, *request_.flashPath, flash_, problem)) {
        status_.SetStatus(problem);
        return LOAD_FILE_ERROR;
    }
    return LOAD_OK;
}

int CLoadRun::ResetOnly(CLoadLine& line)
{
    if (request_.captureMethod != kHardwareReset)
        SetFlowControl();
    const std::string command = request_.softBreakVariant ? CCapture::kSleepCommand : CCapture::kResetCommand;
    if (CCapture(line, command).ResetStep(request_.captureMethod, request_.baudRate))
        return LOAD_OK;
    status_.SetStatus("Timeout sending Software Reset command");
    return Failed(LOAD_GENERIC_ERROR);
}

int CLoadRun::Load(CLoadLine& line)
{
    const std::string command = request_.softBreakVariant ? CCapture::kSleepCommand : CCapture::kResetCommand;
    CCapture capture(line, command);
    bool userAbort = false;
    if (!capture.Capture(request_.captureMethod, request_.baudRate, userAbort))
        return Failed(userAbort ? LOAD_ABORTED : LOAD_CANT_CAPTURE);
    if (request_.captureMethod != kHardwareReset)
        SetFlowControl();
    CBootExchange exchange(line);
    if (!exchange.Handshake()) {
        status_.SetStatus("Handshaking error");
        return Failed(LOAD_HANDSHAKE_ERROR);
    }
    const bool checkFlash = request_.flashPath && request_.checkFlash;
    const bool checkRam = request_.ramPath && request_.checkRam;
    if (!exchange.VersionCheck(request_.flashPath ? &flash_ : nullptr, checkFlash, ramHeader_.targetDevice,
                               checkRam, request_.deviceKind))
        return Failed(LOAD_VERSION_ERROR);
    if (const int sent = SendImages(line); sent != LOAD_OK || !request_.flashPath)
        return sent;  // a RAM-only load ends with the acknowledgement, without a reset
    if (const int flashed = SendFlash(line); flashed != LOAD_OK)
        return flashed;
    if (!capture.ResetStep(request_.captureMethod, request_.baudRate)) {
        status_.SetStatus("Timeout sending Software Reset command");
        return Failed(LOAD_GENERIC_ERROR);
    }
    PostStage(kStageFlash, false);
    status_.SetStatus("Loading completed");
    return LOAD_OK;
}

int CLoadRun::SendImages(CLoadLine& line)
{
    PostStage(kStageRamChecked, true);
    if (request_.flashPath)
        PostStage(kStageFlashChecked, true);
    PostStage(kStageRam, true);
    status_.SetStatus("Loading...");
    CBootExchange exchange(line);
    bool userAbort = false;
    if (!exchange.SendRamImage(request_.ramPath ? &ram_ : nullptr, userAbort))
        return Failed(userAbort ? LOAD_ABORTED : LOAD_RAM_ERROR);
    ram_.Close();
    PostStage(kStageRam, false);
    return LOAD_OK;
}

int CLoadRun::SendFlash(CLoadLine& line)
{
    PostStage(kStageFlash, true);
    const CStopwatch stopwatch;
    BlockSender sender(&line, &stopwatch, request_.timing.replyTimeoutMs, boot::kBlockLength);
    bool userAbort = false;
    if (!SendFlashImage(line, flash_, sender, userAbort))
        return Failed(userAbort ? LOAD_ABORTED : LOAD_FLASH_ERROR);
    flash_.Close();
    // The end frame carries the image's last bytes: its refusal must not leave "Flash file
    // loaded" as the run's last word.
    if (!sender.Finish()) {
        status_.SetStatus("Error in Flash file loading");
        return Failed(LOAD_GENERIC_ERROR);
    }
    if (!CBootExchange(line).WaitFinalAcknowledge(ramHeader_.finalAcknowledge)) {
        status_.SetStatus("Error in Flash file loading");
        return Failed(LOAD_FLASH_ERROR);
    }
    return LOAD_OK;
}

void RunLoadWorker(const std::shared_ptr<LoadRequest>& request, const SerialPortTiming& portTiming)
{
    // The Flash stage waits for one reply byte per frame: every delay in waking up for it
    // is line time lost.
    RaiseThreadPriority();
    request->MarkRunning();
    int result = LOAD_OK;
    if (!request->portName.empty())
        result = CLoadRun(*request, portTiming).Run();
    request->MarkDone(result);
}

}  // namespace kestrum
