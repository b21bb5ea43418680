#include "cli/c_port_load.h"

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
                     CStatusChannel& status, CPortProgress& progress)
    : config_(config), portName_(std::move(portName)), stored_(stored), status_(status), progress_(progress)
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
    thread_ = std::thread([this] { Run(); });
}

void CPortLoad::Stop()
{
    stopAsked_ = true;
    cancel_->Set();
    vdkCancel_.Set();
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
    stuck.text = config_.deviceKind == 2 ? kVdkTextAborted : ResultText(LOAD_ABORTED);
    stuck.lastStatus = progress_.LastStatus();
    stuck.seconds = SecondsSince(started_);
    return stuck;
}

void CPortLoad::Run()
{
    if (config_.deviceKind == 2)
        RunDisplayUnit();
    else
        RunReceiverLoad();
}

// The port test runs here, not on the main thread, so ports that take a while to open or
// to find their receiver do not hold the others up.
void CPortLoad::RunReceiverLoad()
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
        std::lock_guard lock(requestMutex_);
        request_.reset();
    }
    Finish(code, ResultText(code), status_.Text());
}

void CPortLoad::RunDisplayUnit()
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
    Finish(code, outcome.success ? ResultText(LOAD_OK) : outcome.message, outcome.message);
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

void CPortLoad::Finish(int code, const std::string& text, const std::string& lastStatus)
{
    {
        std::lock_guard lock(resultMutex_);
        result_.code = code;
        result_.text = text;
        result_.lastStatus = lastStatus;
        result_.seconds = SecondsSince(started_);
    }
    progress_.HideCountdown();
    progress_.NoteResult(OneLine(text));
    finished_ = true;
    done_.Set();
}

double CPortLoad::SecondsSince(std::chrono::steady_clock::time_point start) const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace kestrum
