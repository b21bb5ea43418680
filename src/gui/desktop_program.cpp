#include "gui/desktop_program.h"

#include <QApplication>

#include <cstdio>

#include "gui/c_main_frame.h"
#include "gui/c_qt_message_hooks.h"
#include "platform/c_wire_trace.h"
#include "widgets/c_about_dlg.h"

namespace kestrum {

namespace {

// While the main window is up, a wire trace that stops early says so in its status bar.
// The text is only stored and flagged: the notice may come from inside a device call on
// this thread, where processing messages could re-enter the page that made it.
class TraceNoticeInStatusBar {
public:
    explicit TraceNoticeInStatusBar(CStatusChannel& status)
    {
        CWireTrace::SetNoticeSink([&status](const std::string& text) {
            status.SetStatus(text, true);
            status.Event().Set();
        });
    }
    ~TraceNoticeInStatusBar() { CWireTrace::SetNoticeSink(nullptr); }
    TraceNoticeInStatusBar(const TraceNoticeInStatusBar&) = delete;
    TraceNoticeInStatusBar& operator=(const TraceNoticeInStatusBar&) = delete;
};

int RunMainWindow(CKestrumApp& app, CQtMessageHooks& hooks)
{
    int status = 0;
    {
        CMainFrame frame(app, hooks);
        const TraceNoticeInStatusBar traceNotice(frame.MainStatus());
        QObject::connect(&frame, &CMainFrame::Closed, QCoreApplication::instance(), &QCoreApplication::quit,
                         Qt::QueuedConnection);
        app.ReadSaveFlag();
        frame.show();
        status = QApplication::exec();
        // The pages and the window store their keys as they go: in one rewrite with the flag.
        app.BeginExit();
    }
    if (!app.ExitInstance())
        std::fprintf(stderr, "kestrum: %s\n", app.Settings().LastWriteError().c_str());
    return status;
}

}  // namespace

int RunDesktopProgram(const std::vector<std::string>& arguments, const AppEnvironment& environment)
{
    CKestrumApp app;
    std::string error;
    if (!app.Start(arguments, environment, error)) {
        std::fprintf(stderr, "kestrum: %s\n", error.c_str());
        return 1;
    }
    if (!app.StartWarning().empty())
        std::fprintf(stderr, "kestrum: %s\n", app.StartWarning().c_str());
    CQtMessageHooks hooks;
    if (app.HelpOnly()) {
        CAboutDlg help(CAboutDlg::Mode::Help, true);
        help.exec();
        return 0;
    }
    return RunMainWindow(app, hooks);
}

}  // namespace kestrum
