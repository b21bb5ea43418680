#include "cli/c_cli_reporter.h"

#include <unistd.h>

#include "platform/message_pump.h"

namespace kestrum {

CCliReporter::CCliReporter(std::FILE* err)
    : display_(err, isatty(fileno(err)) != 0), mainThread_(std::this_thread::get_id())
{
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
}

CCliReporter::~CCliReporter()
{
    MessagePump::InstallPumpHook(nullptr);
    MessagePump::InstallMessageSink(nullptr);
    TakeStatus();
    display_.Finish();
}

void CCliReporter::TakeStatus()
{
    if (channel_.Event().Test())
        display_.NoteStatus(channel_.Text());
}

void CCliReporter::Refresh()
{
    TakeStatus();
    display_.Refresh();
}

}  // namespace kestrum
