#include "cli/c_cli_reporter.h"

#include "platform/c_wire_trace.h"
#include "platform/console.h"
#include "platform/message_pump.h"

namespace kestrum {

CCliReporter::CCliReporter(std::FILE* err, const std::vector<std::string>& portNames)
    : display_(err, IsControllableTerminal(err), portNames), mainThread_(std::this_thread::get_id())
{
    for (size_t i = 0; i < display_.PortCount(); ++i)
        channels_.push_back(std::make_unique<CStatusChannel>());
    MessagePump::InstallPumpHook([this] {
        TakeStatus();
        if (std::this_thread::get_id() == mainThread_)
            display_.Refresh();
    });
    MessagePump::InstallMessageSink([this](int message, intptr_t show, intptr_t milliseconds) {
        if (message != WM_CAPTURE_PROMPT)
            return;
        if (show)
            display_.ShowCountdown(static_cast<int>(milliseconds));
        else
            display_.HideCountdown();
    });
    CWireTrace::SetNoticeSink([this](const std::string& text) { display_.NoteProgramLine(text); });
}

CCliReporter::~CCliReporter()
{
    CWireTrace::SetNoticeSink(nullptr);
    MessagePump::InstallPumpHook(nullptr);
    MessagePump::InstallMessageSink(nullptr);
    TakeStatus();
    display_.Finish();
}

void CCliReporter::TakeStatus()
{
    for (size_t i = 0; i < channels_.size(); ++i)
        if (channels_[i]->Event().Test())
            display_.Port(i).NoteStatus(channels_[i]->Text());
}

void CCliReporter::Refresh()
{
    TakeStatus();
    display_.Refresh();
}

}  // namespace kestrum
