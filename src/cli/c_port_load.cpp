#include "cli/c_port_load.h"

#include "cli/cli_commands.h"
#include "loader/c_load_session.h"
#include "loader/load_result.h"
#include "platform/message_pump.h"
#include "vdk/display_unit_run.h"
#include "vdk/display_unit_texts.h"

namespace kestrum {

namespace {

constexpr intptr_t kFlashStage = 1;

// StartLoad's refusals in the loader's own result codes.
int ResultOfStart(int started)
{
    switch (started) {
    case CLoadSession::kConnectAborted:
        return LOAD_ABORTED;
    case CLoadSession::kConnectFailed:
        return LOAD_CANT_CAPTURE;
    case CLoadSession::kRateRefused:
        return LOAD_BAUD_RATE_ERROR;
    default:
        return LOAD_GENERIC_ERROR;
    }
}

// A result shown on one line: the VDK-1's texts may end with a line break.
std::string OneLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string ResultText(int code)
{
    std::string text = "Loading completed";
    if (code != LOAD_OK)
        GetLoadResultText(code, text);
    return text;
}

} // namespace

CPortLoad::CPortLoad(const CliConfig& config, std::string portName, CSettingsFile& stored,
                     CStatusChannel& status, CPortProgress& progress, CRecordFile* record)
    : config_(config), portName_(std::move(portName)), stored_(stored), status_(status), progress_(progress),
      record_(record)
{
    result_.port = portName_;
}

CPortLoad::~CPortLoad()
{
    if (!Done())
        Stop();
    if (thread_.joinable())
        thread_.join();
}

void CPortLoad::Start()
{
    started_ = std::chrono::steady_clock::now();
    startedAt_ = std::chrono::system_clock::now();
    thread_ = std::thread([this] { Run(); });
}

void CPortLoad::Stop()
{
    stopAsked_ = true;
    cancel_->Set();
    vdkCancel_.Set();
    queryCancel_.Set();
    std::lock_guard lock(requestMutex_);
    if (request_)
        request_->RequestStop();
}

PortLoadResult CPortLoad::Result() const
{
    std::lock_guard lock(resultMutex_);
    if (finished_)
        return result_;
    PortLoadResult stuck = result_;
    stuck.code = LOAD_ABORTED;
    stuck.outcome = ProductionRecord::Result::Failed;
    stuck.text = config_.deviceKind == 2 ? kVdkTextAborted : ResultText(LOAD_ABORTED);
    stuck.lastStatus = progress_.LastStatus();
    stuck.seconds = SecondsSince(started_);
    return stuck;
}

// Asked before the load (when the firmware is expected or a record is kept), the device
// that already runs the expected firmware is left alone; after a completed load it is
// asked again and judged.
void CPortLoad::Run()
{
    const LoadCheck& check = config_.check;
    std::optional<DeviceInfo> before;
    if (check.AskBefore() && !stopAsked_)
        before = AskDevice(false);
    {
        std::lock_guard lock(resultMutex_);
        result_.before = before;
    }
    WorkEnd end;
    if (AlreadyCurrent(check, before)) {
        end.text = AlreadyCurrentText(*before);
        std::lock_guard lock(resultMutex_);
        result_.outcome = ProductionRecord::Result::Skipped;
    } else {
        end = config_.deviceKind == 2 ? RunDisplayUnit() : RunReceiverLoad();
        if (end.code == LOAD_OK && check.AskAfter() && !stopAsked_)
            CheckAfterLoad(end);
        std::lock_guard lock(resultMutex_);
        result_.outcome = end.code == LOAD_OK ? ProductionRecord::Result::Completed : ProductionRecord::Result::Failed;
    }
    if (record_ != nullptr)
        WriteRecord(end);
    Finish(end);
}

std::optional<DeviceInfo> CPortLoad::AskDevice(bool afterLoad)
{
    PortSettings settings;
    settings.port = portName_;
    settings.speed = static_cast<int32_t>(config_.speed);
    settings.handshaking = config_.handshake;
    const auto kind = static_cast<DeviceKind>(config_.deviceKind);
    // The echo-off string is read from the settings, never written back.
    const LinkSettings link{&stored_, [] { return false; }};
    return afterLoad ? AskDeviceAfterLoad(kind, settings, status_.Number(), link, &queryCancel_)
                     : kestrum::AskDevice(kind, settings, status_.Number(), link, &queryCancel_);
}

void CPortLoad::CheckAfterLoad(WorkEnd& end)
{
    const std::optional<DeviceInfo> after = AskDevice(true);
    {
        std::lock_guard lock(resultMutex_);
        result_.after = after;
    }
    if (stopAsked_) {
        end.code = LOAD_ABORTED;
        end.text = ResultText(LOAD_ABORTED);
        return;
    }
    if (!config_.check.Judges())
        return;
    std::string text;
    end.code = kestrum::CheckAfterLoad(config_.check, after, text);
    end.text = text;
    if (end.code != LOAD_OK)
        end.lastStatus = status_.Text();
}

// On the disk before the port's result is reported; a record that cannot be written
// fails the port, or a station would believe it has a record it has not.
void CPortLoad::WriteRecord(WorkEnd& end)
{
    ProductionRecord record =
        BeginRecord(kCliProgram, portName_, static_cast<DeviceKind>(config_.deviceKind));
    record.time = startedAt_;
    {
        std::lock_guard lock(resultMutex_);
        record.before = result_.before;
        record.after = result_.after;
        record.images = result_.images;
        record.result = result_.outcome;
    }
    record.code = end.code;
    record.text = OneLine(end.text);
    record.seconds = SecondsSince(started_);
    if (std::string error; !record_->Append(record, error)) {
        end.lastStatus = error;
        if (end.code == LOAD_OK) {
            end.code = kExitRecordFailed;
            end.text = OneLine(end.text) + ", but the record could not be written";
        }
    }
}

// The port test runs here, not on the main thread, so ports that take a while to open or
// to find their receiver do not hold the others up.
CPortLoad::WorkEnd CPortLoad::RunReceiverLoad()
{
    LoadSetup setup;
    setup.portName = portName_;
    setup.baudRate = config_.speed;
    setup.flowControl = config_.handshake;
    setup.ramPath = config_.ramPath;
    setup.flashPath = config_.flashPath;
    setup.deviceKind = config_.deviceKind;
    setup.softBreakVariant = config_.softBreakVariant;
    setup.statusLink = status_.Number();
    setup.cancel = cancel_;
    setup.progress = [this] { progress_.Step(); };
    setup.setRange = [this](int steps) { progress_.SetRange(steps); };
    setup.notify = [this](int message, intptr_t wParam, intptr_t lParam) { Notify(message, wParam, lParam); };
    // The echo-off string is read from the settings, never written back.
    setup.receiverSettings = LinkSettings{&stored_, [] { return false; }};

    CLoadSession session(status_);
    const int started = session.StartLoad(config_.captureMethod, setup);
    int code = ResultOfStart(started);
    if (started == CLoadSession::kStarted) {
        const std::shared_ptr<LoadRequest> request = session.Request();
        {
            std::lock_guard lock(requestMutex_);
            request_ = request;
        }
        if (stopAsked_)
            request->RequestStop();
        request->WaitDone(-1);
        session.Join();
        code = request->Result();
        {
            std::lock_guard lock(resultMutex_);
            result_.images = request->Images();
        }
        std::lock_guard lock(requestMutex_);
        request_.reset();
    }
    return {code, ResultText(code), status_.Text()};
}

CPortLoad::WorkEnd CPortLoad::RunDisplayUnit()
{
    DisplayUnitRunRequest request;
    request.portName = portName_;
    request.lines = config_.vdkLines;
    request.cancel = &vdkCancel_;
    request.callbacks.status = [this](const std::string& text) { progress_.NoteStatus(text); };
    request.callbacks.progress = [this](uint32_t counter) {
        progress_.SetProgress(counter, kDisplayUnitProgressEnd);
    };
    const DisplayUnitRunOutcome outcome = RunDisplayUnitLoad(request);
    const int code = outcome.success ? LOAD_OK : stopAsked_ ? LOAD_ABORTED : LOAD_GENERIC_ERROR;
    return {code, outcome.success ? ResultText(LOAD_OK) : outcome.message, outcome.message};
}

void CPortLoad::Notify(int message, intptr_t wParam, intptr_t lParam)
{
    if (message == WM_CAPTURE_PROMPT) {
        if (wParam)
            progress_.ShowCountdown(static_cast<int>(lParam));
        else
            progress_.HideCountdown();
        return;
    }
    if (message != WM_LOADER_STAGE || wParam != kFlashStage)
        return;
    std::lock_guard lock(resultMutex_);
    if (lParam)
        flashStarted_ = std::chrono::steady_clock::now();
    else if (flashStarted_)
        result_.flashSeconds = SecondsSince(*flashStarted_);
}

void CPortLoad::Finish(const WorkEnd& end)
{
    {
        std::lock_guard lock(resultMutex_);
        result_.code = end.code;
        result_.text = end.text;
        result_.lastStatus = end.lastStatus;
        result_.seconds = SecondsSince(started_);
    }
    progress_.HideCountdown();
    progress_.NoteResult(OneLine(end.text));
    finished_ = true;
    done_.Set();
}

double CPortLoad::SecondsSince(std::chrono::steady_clock::time_point start) const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace kestrum
