// kestrum: the desktop program.
#include <QApplication>
#include <QIcon>

#include "app/program_identity.h"
#include "gui/desktop_program.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    // The main window hides at once when closed and ends the program itself once the
    // work on the line has stopped.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QString::fromLatin1(kestrum::kProgramName));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/resources/kestrum.png")));
    // Qt has taken its own options (-platform, -style, ...) out of argv by now.
    const std::vector<std::string> arguments(argv, argv + argc);
    return kestrum::RunDesktopProgram(arguments, kestrum::AppEnvironment::FromProcess());
}
