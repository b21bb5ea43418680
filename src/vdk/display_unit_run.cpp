#include "vdk/display_unit_run.h"

#include "platform/closing_flag.h"
#include "platform/ftdi_bit_bang_port.h"
#include "platform/message_pump.h"
#include "vdk/display_unit_texts.h"
#include "vdk/vdk_line_plan.h"

namespace kestrum {

namespace {

void Report(const DisplayUnitRunRequest& request, DisplayUnitRunOutcome& outcome, const std::string& text)
{
    outcome.message = text;
    if (request.callbacks.status)
        request.callbacks.status(text);
}

PortDetails DescribePort(const DisplayUnitRunRequest& request)
{
    if (request.describePort)
        return request.describePort(request.portName);
    const std::vector<PortDetails> described = DescribePorts({request.portName});
    return described.empty() ? PortDetails{} : described.front();
}

bool OpenControlLines(const DisplayUnitRunRequest& request, CProgrammingLink& link,
                      DisplayUnitRunOutcome& outcome)
{
    // A network port's open takes a while: Cancel and a closing window end it.
    const auto cancelled = [&request] {
        MessagePump::DispatchPending();
        return ClosingFlag::IsSet() || (request.cancel != nullptr && request.cancel->Test());
    };
    if (link.Open(request.portName, CProgrammingLink::kBaudRate, cancelled))
        return true;
    // Why first (a refused connection, a busy port), then the run's own text.
    if (!link.OpenFailureDetail().empty())
        Report(request, outcome, link.OpenFailureDetail());
    Report(request, outcome, link.LastError());
    for (const std::string& line : link.OpenDiagnosis())
        Report(request, outcome, line);
    Report(request, outcome, kVdkTextPortError);
    return false;
}

// The adapter's bit-bang mode where the plan allows it; otherwise, or when it does not
// open, the control lines as ever, unless bit-bang was asked for.
bool OpenLink(const DisplayUnitRunRequest& request, CProgrammingLink& link, DisplayUnitRunOutcome& outcome)
{
    const VdkLines lines = request.lines.lines;
    const VdkLinePlan plan =
        PlanVdkLines(lines, lines == VdkLines::Control ? PortDetails{} : DescribePort(request));
    std::string reason = plan.reason;
    if (plan.bitBang) {
        std::unique_ptr<IBitBangPort> port =
            request.bitBangPort ? request.bitBangPort() : CreateFtdiBitBangPort();
        if (link.OpenBitBang(request.portName, std::move(port), plan.device, request.lines.bitBangRate))
            return true;
        reason = BitBangRefusedReason(request.portName, link.LastError());
    }
    if (lines == VdkLines::BitBang) {
        Report(request, outcome, BitBangUnavailableText(reason));
        Report(request, outcome, kVdkTextPortError);
        return false;
    }
    if (!reason.empty())
        Report(request, outcome, ControlLinesText(reason));
    return OpenControlLines(request, link, outcome);
}

}  // namespace

DisplayUnitRunOutcome RunDisplayUnitLoad(const DisplayUnitRunRequest& request)
{
    DisplayUnitRunOutcome outcome;
    if (request.callbacks.progress)
        request.callbacks.progress(0);

    CProgrammingLink link(request.deviceFactory, request.waits);
    if (!OpenLink(request, link, outcome)) {
        outcome.lineOperations = link.LineOperations();
        outcome.pinStates = link.PinStates();
        return outcome;
    }
    outcome.bitBang = link.IsBitBang();

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
    outcome.pinStates = link.PinStates();
    return outcome;
}

}  // namespace kestrum
