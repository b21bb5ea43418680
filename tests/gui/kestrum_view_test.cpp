// The form view's start-up: the automatic load of -a, and nothing without it.
#include <QElapsedTimer>
#include <QLabel>

#include "cli/caught_output.h"
#include "desktop_fixture.h"
#include "gui/c_kestrum_view.h"
#include "gui/c_main_frame.h"
#include "gui/simulated_desk.h"
#include "pages/c_ps_connection.h"
#include "pages/c_ps_loader.h"
#include "pages/c_ps_program.h"
#include "sim/image_layout.h"
#include "sim/receiver_model.h"

using namespace kestrum;
using namespace kestrum::test;


class KestrumViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // With no image files chosen, the automatic load gets as far as their check.
    void AutomaticLoadBringsTheProgramPageForwardThenPressesLoad()
    {
        DesktopFixture desktop;
        CMainFrame frame(desktop.Start({"-a", "-r", "/nonexistent/ram.ldr"}), desktop.Hooks());
        CPSLoader* sheet = frame.View()->Sheet();
        QElapsedTimer clock;
        clock.start();
        frame.show();
        QTRY_COMPARE_WITH_TIMEOUT(sheet->currentIndex(), int(CPSLoader::kProgramPage), 10000);
        QCOMPARE(frame.Pane(0)->text(), QString());  // the second pause comes first
        QTRY_COMPARE_WITH_TIMEOUT(frame.Pane(0)->text(), QStringLiteral("Can't open RAM file"), 10000);
        QVERIFY2(clock.elapsed() >= 2 * CKestrumView::kAutoLoadPauseMs, "both pauses were kept");
    }

    // The values the pages ignore are named on stderr, once, with what the window uses.
    void ArgumentsWithoutAutoLoadStartNothing()
    {
        DesktopFixture desktop;
        CKestrumApp& app = desktop.Start({"-s", "12345", "-e", "-d", "REC", "-p", "/nonexistent/tty", "-c", "fast"});
        CMainFrame frame(app, desktop.Hooks());
        CaughtOutput notices;
        frame.View()->SetNoticeStream(notices.File());
        CPSLoader* sheet = frame.View()->Sheet();
        frame.show();
        QTest::qWait(CKestrumView::kStartupTimerMs + 2 * CKestrumView::kAutoLoadPauseMs + 500);
        QCOMPARE(frame.Pane(0)->text(), QString());
        QCOMPARE(sheet->currentIndex(), int(CPSLoader::kConnectionPage));
        const std::string port = sheet->Connection().Selection().SelectedText(CConnectionSelection::kPort);
        QCOMPARE(notices.Text(),
                 "kestrum: -p /nonexistent/tty is not a port this program offers: No such file or directory; "
                 "using " + port + "\n"
                     "kestrum: -s 12345 is not a rate this program offers; using 115200\n"
                     "kestrum: -d REC is not a device type this program offers; using rec\n"
                     "kestrum: -c fast is not a capture method this program offers; using pwr\n");
    }

    // -a with a -p the list does not offer: the stored port is shown, as always, but the
    // device on it hears nothing; the status line and stderr say why. A missing device, an
    // empty name (COM, as on the program's first platform) and a plain file.
    void AutomaticLoadStartsOnNoPortButTheOneNamed()
    {
        TempDir images;
        const auto ram = BuildRamImage({true, 20, "", 100});
        const auto flash = BuildFlashImage({20, "9.1", 600, true});
        WriteFile(images / "ram.ldr", std::string(ram.begin(), ram.end()));
        WriteFile(images / "main.ldp", std::string(flash.begin(), flash.end()));
        WriteFile(images / "plain", "");
        const std::pair<std::string, std::string> cases[] = {
            {images / "missing",
             "Port " + (images / "missing") + " is not available: No such file or directory"},
            {"", "Port COM is not available: not a device path"},
            {images / "plain", "Port " + (images / "plain") + " is not available: not a serial device"},
        };
        std::vector<std::shared_ptr<ReceiverModel>> stored;
        std::vector<std::unique_ptr<SimulatedDesk>> desks;
        std::vector<std::unique_ptr<CaughtOutput>> notices;
        for (const auto& [named, refusal] : cases) {
            ReceiverConfig config;
            config.powerCycleAfterMs = 200;
            stored.push_back(std::make_shared<ReceiverModel>(config));
            const std::vector<std::string> arguments = {"-p", named, "-r", images / "ram.ldr", "-f", images / "main.ldp",
                                                        "-a", "-e"};
            desks.push_back(std::make_unique<SimulatedDesk>(stored.back(), arguments, ""));
            notices.push_back(std::make_unique<CaughtOutput>());
            desks.back()->Frame().View()->SetNoticeStream(notices.back()->File());
        }
        for (size_t i = 0; i < desks.size(); ++i) {
            const QString refusal = QString::fromStdString(cases[i].second);
            QTRY_COMPARE_WITH_TIMEOUT(desks[i]->Frame().Pane(0)->text(), refusal, 15000);
            QCOMPARE(desks[i]->Sheet().Connection().Selection().SelectedText(CConnectionSelection::kPort),
                     desks[i]->Port());
            QCOMPARE(notices[i]->Text(), "kestrum: " + cases[i].second + "\n");
            QVERIFY(desks[i]->Sheet().Program().Done());
            QVERIFY(desks[i]->Frame().isVisible());
        }
        for (const auto& device : stored)
            QVERIFY2(device->WireEvents().empty(), "the stored port was never opened");
    }

    void FormHasTheSizeOfItsDialogUnits()
    {
        DesktopFixture desktop;
        CMainFrame frame(desktop.Start(), desktop.Hooks());
        frame.show();
        const CDialogUnits units(frame.View()->font());
        QCOMPARE(frame.View()->size(), units.Size(CKestrumView::kFormWidth, CKestrumView::kFormHeight));
        QCOMPARE(frame.View()->Sheet()->geometry(), frame.View()->rect());
    }
};

QTEST_MAIN(KestrumViewTest)
#include "kestrum_view_test.moc"
