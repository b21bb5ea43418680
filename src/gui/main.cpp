// kestrum: the desktop program.
#include <QApplication>
#include <QIcon>

#include <cstdio>

#include "app/program_identity.h"
#include "app/terminal_answer.h"
#include "app/trace_request.h"
#include "gui/desktop_program.h"
#include "platform/c_wire_trace.h"

int main(int argc, char** argv)
{
    // Help and version need no display, so help2man and a terminal without one get them.
    const std::vector<std::string> raw(argv, argv + argc);
    const kestrum::TerminalAnswer answer = kestrum::AnswerOnTerminal(raw, kestrum::DisplayAvailable(raw));
    if (answer.answered) {
        std::fputs(answer.out.c_str(), stdout);
        std::fputs(answer.err.c_str(), stderr);
        return answer.status;
    }
    // KESTRUM_TRACE=FILE: every byte on the line goes to FILE, for the support desk.
    if (std::string error; !kestrum::StartRequestedTrace("", raw, error)) {
        std::fprintf(stderr, "kestrum: KESTRUM_TRACE: %s\n", error.c_str());
        return 1;
    }
    int status = 0;
    {
        QApplication application(argc, argv);
        // The main window hides at once when closed and ends the program itself once the
        // work on the line has stopped.
        QApplication::setQuitOnLastWindowClosed(false);
        QApplication::setApplicationName(QString::fromLatin1(kestrum::kProgramName));
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/resources/kestrum.png")));
        // Qt has taken its own options (-platform, -style, ...) out of argv by now.
        const std::vector<std::string> arguments(argv, argv + argc);
        status = kestrum::RunDesktopProgram(arguments, kestrum::AppEnvironment::FromProcess());
    }
    if (!kestrum::CWireTrace::End())
        std::fprintf(stderr, "kestrum: the trace could not be written completely\n");
    return status;
}
