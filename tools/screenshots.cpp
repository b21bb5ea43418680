// Renders the desktop program's windows to PNG files without a display (run it with
// QT_QPA_PLATFORM=offscreen; scripts/screenshots does). The windows are the real ones,
// started on a settings file of their own in a temporary folder.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>

#include "app/c_kestrum_app.h"
#include "gui/c_about_dlg.h"
#include "gui/c_kestrum_view.h"
#include "gui/c_main_frame.h"
#include "gui/c_qt_message_hooks.h"
#include "pages/c_ps_loader.h"

using namespace kestrum;

namespace {

bool Save(QWidget& window, const QString& path)
{
    window.show();
    QTest::qWait(50);  // let the first paint happen, as on a screen
    if (window.grab().save(path)) {
        std::printf("%s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
    return false;
}

bool MainWindowPages(CKestrumApp& app, CQtMessageHooks& hooks, const QDir& out)
{
    CMainFrame frame(app, hooks);
    frame.move(0, 0);
    const char* names[] = {"main-window-connection.png", "main-window-device.png", "main-window-program.png"};
    bool ok = true;
    for (int page = 0; page < 3; ++page) {
        frame.show();
        frame.View()->Sheet()->SetActivePage(page);
        ok = Save(frame, out.filePath(QString::fromLatin1(names[page]))) && ok;
    }
    return ok;
}

bool Dialogs(const QDir& out)
{
    CAboutDlg about(CAboutDlg::Mode::About, false);
    CAboutDlg help(CAboutDlg::Mode::Help, false);
    return Save(about, out.filePath(QStringLiteral("about.png"))) &&
           Save(help, out.filePath(QStringLiteral("command-line-help.png")));
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshots DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "screenshots: cannot create %s\n", argv[1]);
        return 1;
    }
    QTemporaryDir settingsDir;
    AppEnvironment environment = AppEnvironment::FromProcess();
    environment.settings.explicitPath = settingsDir.filePath(QStringLiteral("kestrum.ini")).toStdString();
    CKestrumApp app;
    std::string error;
    if (!settingsDir.isValid() || !app.Start({"kestrum"}, environment, error)) {
        std::fprintf(stderr, "screenshots: %s\n", error.c_str());
        return 1;
    }
    CQtMessageHooks hooks;
    const bool ok = MainWindowPages(app, hooks, out) && Dialogs(out);
    return ok ? 0 : 1;
}
