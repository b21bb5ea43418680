// The form view's start-up: the automatic load of -a, and nothing without it.
#include <QElapsedTimer>
#include <QLabel>

#include "desktop_fixture.h"
#include "gui/c_kestrum_view.h"
#include "gui/c_main_frame.h"
#include "pages/c_ps_loader.h"
#include "pages/c_ps_program.h"

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

    void ArgumentsWithoutAutoLoadStartNothing()
    {
        DesktopFixture desktop;
        CMainFrame frame(desktop.Start({"-s", "9600", "-e"}), desktop.Hooks());
        CPSLoader* sheet = frame.View()->Sheet();
        frame.show();
        QTest::qWait(CKestrumView::kStartupTimerMs + 2 * CKestrumView::kAutoLoadPauseMs + 500);
        QCOMPARE(frame.Pane(0)->text(), QString());
        QCOMPARE(sheet->currentIndex(), int(CPSLoader::kConnectionPage));
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
