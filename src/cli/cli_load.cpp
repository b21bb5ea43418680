#include <memory>

#include "cli/c_cli_reporter.h"
#include "cli/c_interrupt_watcher.h"
#include "cli/cli_commands.h"
#include "loader/c_load_session.h"
#include "loader/load_result.h"
#include "vdk/display_unit_run.h"

namespace kestrum {

namespace {

constexpr int kRefreshMs = 100;

// StartLoad's refusals in the loader's own result codes.
int ResultOfStart(int started)
{
    switch (started) {
    case CLoadSession::kConnectAborted: return LOAD_ABORTED;
    case CLoadSession::kConnectFailed: return LOAD_CANT_CAPTURE;
    case CLoadSession::kRateRefused: return LOAD_BAUD_RATE_ERROR;
    default: return LOAD_GENERIC_ERROR;
    }
}

std::string ResultText(int result)
{
    std::string text = "Loading completed";
    if (result != LOAD_OK)
        GetLoadResultText(result, text);
    return text;
}

void PrintResult(int result, std::FILE* out)
{
    std::fprintf(out, "%s\n", ResultText(result).c_str());
}

// A load that does not end after a stop still ends the program as aborted.
CInterruptWatcher::GiveUp AbortedGiveUp()
{
    return {ResultText(LOAD_ABORTED), LOAD_ABORTED, InterruptGiveUp::kAfterMs};
}

LoadSetup MakeSetup(const CliConfig& config, CSettingsFile& stored, CCliReporter& reporter,
                    const std::shared_ptr<CEvent>& cancel)
{
    LoadSetup setup;
    setup.portName = config.portName;
    setup.baudRate = config.speed;
    setup.flowControl = config.handshake;
    setup.ramPath = config.ramPath;
    setup.flashPath = config.flashPath;
    setup.deviceKind = config.deviceKind;
    setup.softBreakVariant = config.softBreakVariant;
    setup.statusLink = reporter.Channel().Number();
    setup.cancel = cancel;
    setup.progress = [&reporter] { reporter.Display().Step(); };
    setup.setRange = [&reporter](int steps) { reporter.Display().SetRange(steps); };
    // The echo-off string is read from the settings, never written back.
    setup.receiverSettings = LinkSettings{&stored, [] { return false; }};
    return setup;
}

int RunReceiverLoad(const CliConfig& config, CSettingsFile& stored, std::FILE* out, std::FILE* err)
{
    auto cancel = std::make_shared<CEvent>(CEvent::ResetMode::Auto);
    CInterruptWatcher interrupts([cancel] { cancel->Set(); }, AbortedGiveUp());
    int result = LOAD_OK;
    {
        CCliReporter reporter(err);
        CLoadSession session(reporter.Channel());
        const int started = session.StartLoad(config.captureMethod, MakeSetup(config, stored, reporter, cancel));
        if (started != CLoadSession::kStarted) {
            result = ResultOfStart(started);
        } else {
            const std::shared_ptr<LoadRequest> request = session.Request();
            bool stopAsked = false;
            while (!request->WaitDone(kRefreshMs)) {
                if (interrupts.Interrupted() && !stopAsked) {
                    request->RequestStop();
                    stopAsked = true;
                }
                reporter.Refresh();
            }
            session.Join();
            result = request->Result();
        }
    }
    PrintResult(result, out);
    return result;
}

int RunDisplayUnit(const CliConfig& config, std::FILE* out, std::FILE* err)
{
    CEvent cancel(CEvent::ResetMode::Manual);
    CInterruptWatcher interrupts([&cancel] { cancel.Set(); }, AbortedGiveUp());
    DisplayUnitRunOutcome outcome;
    {
        CCliReporter reporter(err);
        DisplayUnitRunRequest request;
        request.portName = config.portName;
        request.cancel = &cancel;
        request.callbacks.status = [&reporter](const std::string& text) { reporter.Display().NoteStatus(text); };
        request.callbacks.progress = [&reporter](uint32_t counter) {
            reporter.Display().SetProgress(counter, kDisplayUnitProgressEnd);
        };
        outcome = RunDisplayUnitLoad(request);
    }
    std::fprintf(out, "%s\n", outcome.success ? "Loading completed" : outcome.message.c_str());
    if (outcome.success)
        return LOAD_OK;
    return interrupts.Interrupted() ? LOAD_ABORTED : LOAD_GENERIC_ERROR;
}

}  // namespace

int RunLoadCommand(const CliConfig& config, CSettingsFile& stored, std::FILE* out, std::FILE* err)
{
    if (config.deviceKind == 2)
        return RunDisplayUnit(config, out, err);
    return RunReceiverLoad(config, stored, out, err);
}

}  // namespace kestrum
