#include "vdk/display_unit_run.h"

#include "platform/closing_flag.h"
#include "platform/message_pump.h"
#include "vdk/display_unit_texts.h"

namespace kestrum {

namespace {

void Report(const DisplayUnitRunRequest& request, DisplayUnitRunOutcome& outcome, const std::string& text)
{
    outcome.message = text;
    if (request.callbacks.status)
        request.callbacks.status(text);
}

}  // namespace

DisplayUnitRunOutcome RunDisplayUnitLoad(const DisplayUnitRunRequest& request)
{
    DisplayUnitRunOutcome outcome;
    if (request.callbacks.progress)
        request.callbacks.progress(0);

    CProgrammingLink link(request.deviceFactory, request.waits);
    // A network port's open takes a while: Cancel and a closing window end it.
    const auto cancelled = [&request] {
        MessagePump::DispatchPending();
        return ClosingFlag::IsSet() || (request.cancel != nullptr && request.cancel->Test());
    };
    if (!link.Open(request.portName, CProgrammingLink::kBaudRate, cancelled)) {
        // Why first (a refused connection, a busy port), then the run's own text.
        if (!link.OpenFailureDetail().empty())
            Report(request, outcome, link.OpenFailureDetail());
        Report(request, outcome, link.LastError());
        for (const std::string& line : link.OpenDiagnosis())
            Report(request, outcome, line);
        Report(request, outcome, kVdkTextPortError);
        outcome.lineOperations = link.LineOperations();
        return outcome;
    }

    CDisplayUnitProgrammer programmer(link, request.image, request.cancel, request.callbacks);
    outcome.success = programmer.Program(outcome.resultText);
    if (outcome.success) {
        Report(request, outcome, outcome.resultText.empty() ? kVdkTextCompleted : outcome.resultText);
        if (request.callbacks.lamp)
            request.callbacks.lamp(FlashLamp::TransferDone);
    } else {
        if (outcome.resultText.empty())
            outcome.resultText = kVdkTextCantLoad;
        Report(request, outcome, outcome.resultText);
    }
    link.Close();
    outcome.lineOperations = link.LineOperations();
    return outcome;
}

}  // namespace kestrum
