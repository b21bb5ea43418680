// The main window as a technician meets it: menu, status bar, clock, position, closing.
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusTipEvent>

#include <thread>

#include "desktop_fixture.h"
#include "gui/c_main_frame.h"
#include "link/c_status_channel.h"
#include "platform/closing_flag.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

QAction* MenuItem(CMainFrame& frame, const QString& menuTitle, const QString& itemText)
{
    for (QAction* top : frame.menuBar()->actions()) {
        if (top->text() != menuTitle)
            continue;
        for (QAction* item : top->menu()->actions()) {
            if (item->text() == itemText)
                return item;
        }
    }
    return nullptr;
}

// Opens a menu as the user does, with a click on its title in the menu bar.
QMenu* OpenMenu(CMainFrame& frame, const QString& title)
{
    for (QAction* top : frame.menuBar()->actions()) {
        if (top->text() != title)
            continue;
        QTest::mouseClick(frame.menuBar(), Qt::LeftButton, {}, frame.menuBar()->actionGeometry(top).center());
        return QTest::qWaitForWindowExposed(top->menu()) ? top->menu() : nullptr;
    }
    return nullptr;
}

}  // namespace

class MainFrameTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void SaveSettingsItemCarriesTheFlagAndInvertsIt()
    {
        DesktopFixture desktop;
        CKestrumApp& app = desktop.Start();
        CMainFrame frame(app, desktop.Hooks());
        frame.show();
        QAction* item = MenuItem(frame, QStringLiteral("&Options"), QStringLiteral("Save Settings on Exit"));
        QVERIFY(item != nullptr && item->isCheckable());
        for (const bool expected : {true, false, true}) {
            QMenu* options = OpenMenu(frame, QStringLiteral("&Options"));
            QVERIFY(options != nullptr);
            QCOMPARE(item->isChecked(), expected);
            QCOMPARE(app.SaveSettingsOnExit(), expected);
            QTest::mouseClick(options, Qt::LeftButton, {}, options->actionGeometry(item).center());
            QTRY_VERIFY(!options->isVisible());
        }
        QVERIFY(!app.SaveSettingsOnExit());
    }

    void MenuPromptsShowInTheStatusPaneAndReadyReturns()
    {
        DesktopFixture desktop;
        CMainFrame frame(desktop.Start(), desktop.Hooks());
        frame.show();
        QCOMPARE(frame.Pane(0)->text(), QStringLiteral("Ready"));
        const struct {
            QString menu, item, prompt;
        } items[] = {{QStringLiteral("&File"), QStringLiteral("E&xit"), QStringLiteral("Quit the application")},
                     {QStringLiteral("&Help"), QStringLiteral("Command Line Options..."),
                      QStringLiteral("Display command line options")}};
        for (const auto& item : items) {
            QMenu* menu = OpenMenu(frame, item.menu);
            QVERIFY(menu != nullptr);
            QTest::mouseMove(menu, menu->actionGeometry(MenuItem(frame, item.menu, item.item)).center());
            QTRY_COMPARE(frame.Pane(0)->text(), item.prompt);
            menu->hide();
            QTRY_COMPARE(frame.Pane(0)->text(), QStringLiteral("Ready"));
        }
        QVERIFY2(frame.isVisible(), "hovering Exit must not close anything");
    }

    void StatusTextFromAWorkerThreadReachesPaneZero()
    {
        DesktopFixture desktop;
        CMainFrame frame(desktop.Start(), desktop.Hooks());
        frame.show();
        CStatusChannel worker;
        worker.LinkTo(frame.MainStatus().Number());
        std::thread([&worker] {
            worker.SetStatus("first");
            worker.SetStatus("Captured");
        }).join();
        QTRY_COMPARE_WITH_TIMEOUT(frame.Pane(0)->text(), QStringLiteral("Captured"), 2000);
        // Nothing new: the pane keeps its text, whatever the menu last said.
        QTest::qWait(3 * CMainFrame::kStatusTimerMs);
        QCOMPARE(frame.Pane(0)->text(), QStringLiteral("Captured"));
    }

    void ClockPanesHaveTheirFormatsAndNeverClip()
    {
        struct tm moment {};
        moment.tm_mday = 5;
        moment.tm_mon = 1;
        moment.tm_year = 102;
        moment.tm_hour = 9;
        moment.tm_min = 5;
        moment.tm_sec = 7;
        QCOMPARE(CMainFrame::DateText(moment), QStringLiteral("05 Feb 2002"));
        QCOMPARE(CMainFrame::TimeText(moment), QStringLiteral("09:05.07"));

        DesktopFixture desktop;
        CMainFrame frame(desktop.Start(), desktop.Hooks());
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        static const QRegularExpression date(QStringLiteral("^\\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4}$"));
        static const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d\\.\\d\\d$"));
        QVERIFY2(date.match(frame.Pane(1)->text()).hasMatch(), qPrintable(frame.Pane(1)->text()));
        QVERIFY2(time.match(frame.Pane(2)->text()).hasMatch(), qPrintable(frame.Pane(2)->text()));
        QVERIFY(frame.Pane(1)->width() >= CMainFrame::kDatePaneWidth);
        QVERIFY(frame.Pane(2)->width() >= CMainFrame::kTimePaneWidth);
        for (int pane : {1, 2}) {
            QLabel* label = frame.Pane(pane);
            QVERIFY(label->contentsRect().width() >= label->fontMetrics().horizontalAdvance(label->text()));
        }
    }

    void WindowIsFixedAndFitsItsForm()
    {
        DesktopFixture desktop;
        CMainFrame frame(desktop.Start(), desktop.Hooks());
        frame.show();
        QCOMPARE(frame.minimumSize(), frame.maximumSize());
        QCOMPARE(frame.windowTitle(), QStringLiteral("Vexil Firmware Loader:  Device = Receiver"));
        QVERIFY(frame.centralWidget()->width() <= frame.width());
    }

    void StoredPositionIsAppliedOnlyWhenBothAxesAreSet()
    {
        const struct {
            const char* stored;
            bool applied;
        } cases[] = {{"[MnFrm]\nPosLeft=120\nPosTop=90\n", true},
                     {"[MnFrm]\nPosLeft=0\nPosTop=90\n", false},
                     {"[MnFrm]\nPosLeft=120\nPosTop=0\n", false}};
        for (const auto& c : cases) {
            DesktopFixture desktop;
            desktop.WriteSettings(c.stored);
            CMainFrame frame(desktop.Start(), desktop.Hooks());
            frame.move(33, 44);
            frame.show();
            QCOMPARE(frame.pos() == QPoint(120, 90), c.applied);
        }
    }

    void PositionIsStoredAtExitWhateverTheFlag()
    {
        DesktopFixture desktop;
        desktop.WriteSettings("[Activate]\nSaveSett=0\n");
        {
            CKestrumApp& app = desktop.Start();
            QVERIFY(!app.SaveSettingsOnExit());
            CMainFrame frame(app, desktop.Hooks());
            frame.show();
            frame.move(140, 77);
            QTRY_COMPARE(frame.pos(), QPoint(140, 77));
        }
        const std::string stored = desktop.Settings();
        QVERIFY2(stored.find("PosLeft=140") != std::string::npos, stored.c_str());
        QVERIFY2(stored.find("PosTop=77") != std::string::npos, stored.c_str());
        QVERIFY2(stored.find("[PortSettings]") == std::string::npos, "pages store nothing with the flag off");
    }

    void IdleCloseHidesSetsTheClosingFlagAndEnds()
    {
        DesktopFixture desktop;
        CMainFrame frame(desktop.Start(), desktop.Hooks());
        QSignalSpy closed(&frame, &CMainFrame::Closed);
        frame.show();
        QVERIFY(!ClosingFlag::IsSet());
        QVERIFY(frame.close());
        QVERIFY(!frame.isVisible());
        QVERIFY(ClosingFlag::IsSet());
        QCOMPARE(closed.count(), 1);
    }
};

QTEST_MAIN(MainFrameTest)
#include "main_frame_test.moc"
