// Renders the desktop program's windows to PNG files without a display (run it with
// QT_QPA_PLATFORM=offscreen; scripts/screenshots does). The windows are the real ones,
// started on settings files of their own in a temporary folder; the load pictures come
// from a real load of a simulated receiver.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <fstream>
#include <functional>

#include "app/c_kestrum_app.h"
#include "gui/c_kestrum_view.h"
#include "gui/c_main_frame.h"
#include "gui/c_qt_message_hooks.h"
#include "pages/c_capturing_dialog.h"
#include "pages/c_ps_device.h"
#include "pages/c_ps_loader.h"
#include "pages/c_ps_program.h"
#include "sim/image_layout.h"
#include "sim/receiver_model.h"
#include "sim/sim_port_registry.h"
#include "widgets/c_about_dlg.h"
#include "widgets/c_lamp_ctrl.h"

using namespace kestrum;

namespace {

bool Save(QWidget& window, const QDir& out, const char* name)
{
    window.show();
    QTest::qWait(50);  // let the first paint happen, as on a screen
    const QString path = out.filePath(QString::fromLatin1(name));
    if (window.grab().save(path)) {
        std::printf("%s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
    return false;
}

// Waits (with the window alive) until done says so; false after the time limit.
bool WaitFor(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QTest::qWait(20);
    return done();
}

bool StartApp(CKestrumApp& app, const QTemporaryDir& dir, const char* iniName, std::vector<std::string> arguments,
              const std::string& settings)
{
    AppEnvironment environment = AppEnvironment::FromProcess();
    environment.settings.explicitPath = dir.filePath(QString::fromLatin1(iniName)).toStdString();
    std::ofstream(environment.settings.explicitPath) << settings;
    arguments.insert(arguments.begin(), "kestrum");
    std::string error;
    if (app.Start(arguments, environment, error))
        return true;
    std::fprintf(stderr, "screenshots: %s\n", error.c_str());
    return false;
}

// As the user does it: on the Device page.
void ChooseKind(CPSLoader& sheet, int kind)
{
    sheet.SetActivePage(CPSLoader::kDevicePage);
    auto* kinds = sheet.Device().findChild<QComboBox*>(QStringLiteral("deviceType"));
    kinds->setCurrentIndex(kind);
    Q_EMIT kinds->activated(kind);
}

bool Pages(CKestrumApp& app, CQtMessageHooks& hooks, const QDir& out)
{
    CMainFrame frame(app, hooks);
    frame.move(0, 0);
    frame.show();
    CPSLoader& sheet = *frame.View()->Sheet();
    bool ok = true;
    const char* pages[] = {"main-window-connection.png", "main-window-device.png"};
    for (int page = 0; page < 2; ++page) {
        sheet.SetActivePage(page);
        ok = Save(frame, out, pages[page]) && ok;
    }
    const char* kinds[] = {"program-receiver.png", "program-powerboard.png", "program-vdk1.png"};
    for (int kind = 0; kind < 3; ++kind) {
        ChooseKind(sheet, kind);
        sheet.SetActivePage(CPSLoader::kProgramPage);
        ok = Save(frame, out, kinds[kind]) && ok;
    }
    ChooseKind(sheet, 0);
    return ok;
}

bool Dialogs(const QDir& out)
{
    CAboutDlg about(CAboutDlg::Mode::About, false);
    CAboutDlg help(CAboutDlg::Mode::Help, false);
    return Save(about, out, "about.png") && Save(help, out, "command-line-help.png");
}

// A paced simulated receiver: its information on the Device page, then a power-on capture
// load: the Capturing dialog while it counts down, and the page while the Flash image goes
// out.
bool Load(const QTemporaryDir& dir, const QDir& out)
{
    ReceiverConfig config;
    config.powerCycleAfterMs = 2500;
    RegisterSimBackend();
    RegisterSimPort("sim:screenshots", std::make_shared<ReceiverModel>(config));
    const std::string ram = dir.filePath(QStringLiteral("ramimage.ldr")).toStdString();
    const std::string flash = dir.filePath(QStringLiteral("main.ldp")).toStdString();
    for (const auto& [path, bytes] : {std::pair{ram, BuildRamImage({true, 20, "", 6000})},
                                      std::pair{flash, BuildFlashImage({20, "2.5 Dec,08,2026", 60000, true})}})
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    CKestrumApp app;
    if (!StartApp(app, dir, "load.ini", {"-r", ram, "-f", flash, "-c", "pwr"},
                  "[PortSettings]\nName=sim:screenshots\n"))
        return false;
    CQtMessageHooks hooks;
    CMainFrame frame(app, hooks);
    frame.move(0, 0);
    frame.show();
    CPSLoader& sheet = *frame.View()->Sheet();
    sheet.SetActivePage(CPSLoader::kDevicePage);
    sheet.Device().OnGetFromDevice();
    bool ok = Save(frame, out, "device-information.png");
    sheet.SetActivePage(CPSLoader::kProgramPage);
    CPSProgram& page = sheet.Program();
    page.OnLoad();
    const bool prompted = WaitFor([&] { return page.CapturingDialog() && page.CapturingDialog()->isVisible(); }, 10000);
    QTest::qWait(1200);
    ok = prompted && Save(*page.CapturingDialog(), out, "capturing.png") && ok;
    CLampCtrl* flashLamp = page.findChildren<CLampCtrl*>().at(1);
    const bool flashing = WaitFor(
        [&] {
            return flashLamp->CurrentColour() == CLampCtrl::Colour::Red &&
                   flashLamp->CurrentShade() == CLampCtrl::Shade::Bright;
        },
        30000);
    QTest::qWait(1500);
    ok = flashing && Save(frame, out, "program-loading.png") && ok;
    WaitFor([&] { return page.Done(); }, 60000);
    UnregisterSimPort("sim:screenshots");
    return ok;
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
    QTemporaryDir dir;
    if (!dir.isValid() || (!out.exists() && !QDir().mkpath(out.path()))) {
        std::fprintf(stderr, "screenshots: cannot create %s or a temporary folder\n", argv[1]);
        return 1;
    }
    CKestrumApp app;
    if (!StartApp(app, dir, "pages.ini", {}, ""))
        return 1;
    CQtMessageHooks hooks;
    bool ok = Pages(app, hooks, out) && Dialogs(out);
    ok = Load(dir, out) && ok;
    return ok ? 0 : 1;
}
