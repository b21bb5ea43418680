// The About box and the command-line help, from the menu and as the only window at start.
#include <QApplication>
#include <QDesktopServices>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "app/command_line_options.h"
#include "gui/c_main_frame.h"
#include "gui/desktop_fixture.h"
#include "gui/desktop_program.h"
#include "widgets/c_about_dlg.h"

using namespace kestrum;
using namespace kestrum::test;

// Takes the addresses the desktop is asked to open, instead of starting a browser.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "Open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    QList<QUrl> opened;

public Q_SLOTS:
    void Open(const QUrl& url) { opened << url; }
};

class AboutDlgTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void AboutBoxHasNoHelpTextAndNoEmptySpace()
    {
        CAboutDlg help(CAboutDlg::Mode::Help, false);
        CAboutDlg about(CAboutDlg::Mode::About, false);
        about.show();
        QCOMPARE(about.windowTitle(), QStringLiteral("Kestrum - About"));
        QVERIFY(!about.HelpBox()->isVisible());
        const QRect box = help.HelpBox()->geometry();
        QCOMPARE(about.height(), help.height() - box.height());
        QCOMPARE(about.OkButton()->y(), box.top() + 10);
        QVERIFY(qAbs(about.OkButton()->geometry().center().x() - box.center().x()) <= 1);
        QVERIFY(about.OkButton()->geometry().bottom() < about.height());
    }

    void HelpShowsTheWholeHelpTextScrollable()
    {
        CAboutDlg help(CAboutDlg::Mode::Help, false);
        help.show();
        QVERIFY(QTest::qWaitForWindowExposed(&help));
        QCOMPARE(help.windowTitle(), QStringLiteral("Kestrum - Command Line Options"));
        QString expected = QString::fromStdString(CommandLineHelpText());
        expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QCOMPARE(help.HelpBox()->toPlainText(), expected);
        QVERIFY(help.HelpBox()->isReadOnly());
        QVERIFY(help.HelpBox()->verticalScrollBar()->maximum() > 0);
    }

    void HeaderLinesAndTheLink()
    {
        CAboutDlg about(CAboutDlg::Mode::About, false);
        QCOMPARE(CAboutDlg::ProductLine(), QStringLiteral("Vexil Firmware Loader  for Linux"));
        QVERIFY(CAboutDlg::VersionLine().startsWith(QStringLiteral("Version 1.0.07  ( Build: ")));
        QVERIFY(CAboutDlg::VersionLine().endsWith(QStringLiteral(" )")));
        QVERIFY(about.LinkLine()->font().underline());
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        const QImage picture = about.LinkLine()->grab().toImage();
        bool blue = false;
        for (int y = 0; y < picture.height() && !blue; ++y) {
            for (int x = 0; x < picture.width() && !blue; ++x)
                blue = picture.pixelColor(x, y) == QColor(0, 0, 255);
        }
        QVERIFY2(blue, "the link is drawn in pure blue");
        QCOMPARE(about.LinkLine()->cursor().shape(), Qt::PointingHandCursor);
        UrlCatcher desktop;
        QTest::mouseClick(about.LinkLine(), Qt::LeftButton);
        QCOMPARE(desktop.opened, QList<QUrl>{QUrl(QString::fromLatin1(CAboutDlg::kLinkAddress))});
    }

    void OnlyTheStartUpHelpCanBeMinimised()
    {
        CAboutDlg fromMenu(CAboutDlg::Mode::Help, false);
        CAboutDlg atStart(CAboutDlg::Mode::Help, true);
        QVERIFY(!fromMenu.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(atStart.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    }

    // A help word first: the help dialog is the only window, and the program then ends.
    void HelpWordShowsOnlyTheHelp()
    {
        DesktopFixture desktop;
        QStringList seen;
        QTimer::singleShot(300, [&seen] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (!window->isVisible())
                    continue;
                seen << window->windowTitle();
                if (auto* dialog = qobject_cast<CAboutDlg*>(window))
                    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
            }
        });
        QCOMPARE(RunDesktopProgram({"kestrum", "-help", "-a"}, desktop.Environment()), 0);
        QCOMPARE(seen, QStringList{QStringLiteral("Kestrum - Command Line Options")});
        QVERIFY2(desktop.Settings().empty(), "no settings are touched");
    }

    void HelpWordAfterTheFirstArgumentIsIgnored()
    {
        DesktopFixture desktop;
        QStringList seen;
        QTimer::singleShot(300, [&seen] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (window->isVisible())
                    seen << window->windowTitle();
                if (auto* frame = qobject_cast<CMainFrame*>(window))
                    frame->close();
            }
        });
        QCOMPARE(RunDesktopProgram({"kestrum", "-s", "-help"}, desktop.Environment()), 0);
        QCOMPARE(seen, QStringList{QStringLiteral("Vexil Firmware Loader:  Device = Receiver")});
        const std::string stored = desktop.Settings();
        QVERIFY2(stored.find("SaveSett=1") != std::string::npos, stored.c_str());
        QVERIFY2(stored.find("PosLeft=") != std::string::npos, stored.c_str());
    }

    void NoPlaceForTheSettingsFileEndsBeforeAnyWindow()
    {
        AppEnvironment nowhere;
        nowhere.settings.programDir = "/proc";          // not writable, even for root
        nowhere.settings.configHome = "/proc/self/kestrum-config";
        bool windowSeen = false;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&windowSeen] {
            for (QWidget* window : QApplication::topLevelWidgets())
                windowSeen = windowSeen || window->isVisible();
        });
        probe.start(10);
        QCOMPARE(RunDesktopProgram({"kestrum"}, nowhere), 1);
        QVERIFY(!windowSeen);
    }
};

QTEST_MAIN(AboutDlgTest)
#include "about_dlg_test.moc"
