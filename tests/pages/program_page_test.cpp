// The Program page from the technician's side: what it offers, what "&Load" does with the
// choices, and loads of simulated devices followed to their end.
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <atomic>
#include <fstream>
#include <optional>

#include "gui/c_kestrum_view.h"
#include "gui/c_main_frame.h"
#include "gui/simulated_desk.h"
#include "loader/load_result.h"
#include "pages/c_capturing_dialog.h"
#include "pages/c_ps_connection.h"
#include "pages/c_ps_device.h"
#include "pages/c_ps_loader.h"
#include "pages/c_ps_program.h"
#include "sim/image_layout.h"
#include "sim/receiver_model.h"
#include "sim/sim_port_registry.h"
#include "sim/vdk1_model.h"
#include "widgets/c_lamp_ctrl.h"
#include "widgets/c_path_combo_box.h"
#include "widgets/c_text_progress_ctrl.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

// Records every cell a lamp shows: a new cell is painted at once.
class LampLog : public QObject {
public:
    explicit LampLog(CLampCtrl* lamp) : lamp_(lamp) { lamp->installEventFilter(this); }
    QStringList cells;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            static const char* colours[] = {"red", "green", "yellow", "blue"};
            const QString cell = lamp_->CurrentShade() == CLampCtrl::Shade::Grey
                                     ? QStringLiteral("grey")
                                     : QString::fromLatin1(colours[static_cast<int>(lamp_->CurrentColour())]);
            if (cells.isEmpty() || cells.last() != cell)
                cells << cell;
        }
        return false;
    }

private:
    CLampCtrl* lamp_;
};

CPSProgram::Timings QuickTimings()
{
    CPSProgram::Timings timings;
    timings.load.replyTimeoutMs = 3000;
    timings.load.captureLimitMs = 1500;
    timings.load.capturePromptMs = 15000;
    timings.protocol.replyTimeoutCapMs = 300;
    timings.displayUnit = {0, 0, 0, 0, 0};
    return timings;
}

// The desk on the Program page, with quick waits.
class Bench : public SimulatedDesk {
public:
    explicit Bench(std::shared_ptr<DeviceModel> model, std::vector<std::string> arguments = {},
                   const std::string& settings = "")
        : SimulatedDesk(std::move(model), std::move(arguments), settings)
    {
        Sheet().SetActivePage(CPSLoader::kProgramPage);
        Activate();
        Page().SetTimings(QuickTimings());
    }

    CPSProgram& Page() { return Sheet().Program(); }
    template <typename T>
    T* Control(const char* name)
    {
        return Page().findChild<T*>(QString::fromLatin1(name));
    }
    QString Status() { return QString::fromStdString(Page().StatusChannel().Text()); }

    // Types a path into a box, as the user does, and leaves the box.
    void Type(const char* boxName, const std::string& path)
    {
        Activate();
        QLineEdit* line = Control<CPathComboBox>(boxName)->lineEdit();
        line->setFocus();
        line->selectAll();
        if (path.empty())
            QTest::keyClick(line, Qt::Key_Delete);
        else
            QTest::keyClicks(line, QString::fromStdString(path));
        LoadButton()->setFocus();
    }
    void TypeImages(const std::vector<uint8_t>& ram, const std::vector<uint8_t>& flash)
    {
        Type("ramFile", Write("ram.ldr", ram));
        Type("flashFile", Write("main.ldp", flash));
    }

    // Runs "&Load" and waits for the run's end; the result code, or -1 when none came.
    int LoadAndWait(int timeoutMs = 30000)
    {
        QSignalSpy finished(&Page(), &CPSProgram::LoadFinished);
        QTest::mouseClick(LoadButton(), Qt::LeftButton);  // a VDK-1 run ends in here
        if (finished.isEmpty() && !finished.wait(timeoutMs))
            return -1;
        return finished.first().first().toInt();
    }
    QPushButton* LoadButton() { return Button(QStringLiteral("&Load")); }
    QPushButton* Button(const QString& text) { return SimulatedDesk::Button(Page(), text); }
};

std::shared_ptr<ReceiverModel> Receiver(int powerCycleAfterMs = 200, int deviceId = 20)
{
    ReceiverConfig config;
    config.powerCycleAfterMs = powerCycleAfterMs;
    config.receiverBoot.deviceId = static_cast<uint8_t>(deviceId);
    config.flashWriteMs = 20;
    return std::make_shared<ReceiverModel>(config);
}

QStringList Entries(QComboBox* box)
{
    QStringList entries;
    for (int i = 0; i < box->count(); ++i)
        entries << box->itemText(i);
    return entries;
}

}  // namespace

class ProgramPageTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void FreshStartOffersTheDefaultFilesAndTwoCaptureMethods()
    {
        Bench bench(Receiver());
        auto* capture = bench.Control<QComboBox>("captureMethod");
        QCOMPARE(Entries(capture), (QStringList{QStringLiteral("Power On Capture"), QStringLiteral("Soft Break Capture")}));
        QCOMPARE(capture->currentIndex(), 0);
        QCOMPARE(bench.Control<CPathComboBox>("ramFile")->FullPath(), QStringLiteral("ramimage.ldr"));
        QCOMPARE(bench.Control<CPathComboBox>("flashFile")->FullPath(), QStringLiteral("main.ldp"));
        QCOMPARE(bench.Page().Settings().CaptureMethod(1), 0);
        QCOMPARE(bench.Page().Settings().CaptureMethod(2), 1);
        QVERIFY(bench.LoadButton()->isEnabled());
    }

    void StoredChoicesAreReadWithTheirLimits()
    {
        Bench stored(Receiver(), {},
                     "[LoadPath_RAM]\nPath01=/a/one.ldr\nPath02=/a/two.ldr\nPath03=/a/one.ldr\n"
                     "[ProgramSettings]\nResetRec=7\n");
        QCOMPARE(Entries(stored.Control<CPathComboBox>("ramFile")),
                 (QStringList{QStringLiteral("/a/one.ldr"), QStringLiteral("/a/two.ldr"), QStringLiteral("ramimage.ldr")}));
        QCOMPARE(stored.Control<QComboBox>("captureMethod")->currentText(), QStringLiteral("Power On Capture"));

        Bench hardware(Receiver(), {}, "[Test]\nHardwareReset=1\n[ProgramSettings]\nResetRec=2\n");
        QCOMPARE(hardware.Control<QComboBox>("captureMethod")->currentText(), QStringLiteral("Hardware Reset"));
    }

    // "Hardware Reset" not offered: a stored 2 becomes power-on capture, stored as 0 at exit.
    void StoredHardwareResetWithoutTheTestSwitchBecomesPowerOn()
    {
        DesktopFixture desktop;
        desktop.WriteSettings("[ProgramSettings]\nResetRec=2\n");
        {
            CPSLoader sheet(desktop.Start(), -1, nullptr);
            sheet.show();
            QCOMPARE(sheet.Program().findChild<QComboBox*>(QStringLiteral("captureMethod"))->currentIndex(), 0);
        }
        QCOMPARE(CSettingsFile(desktop.SettingsPath()).GetInt("ProgramSettings", "ResetRec", -1), 0);
    }

    void EmptyFlashBoxDisablesLoadAndTheAutomaticLoadSaysWhy()
    {
        Bench bench(Receiver());
        bench.Type("flashFile", "");
        QVERIFY(!bench.LoadButton()->isEnabled());
        bench.Page().OnLoad();
        QCOMPARE(bench.Status(), QStringLiteral("Enter the Flash file path"));
    }

    void PathsGoToTheFrontOfTheirHistoriesBeforeTheyAreChecked()
    {
        Bench bench(Receiver(), {"-r", "/gone/ram.ldr", "-f", "/gone/main.ldp"});
        QSignalSpy started(&bench.Page(), &CPSProgram::LoadStarted);
        QTest::mouseClick(bench.LoadButton(), Qt::LeftButton);
        QCOMPARE(bench.Status(), QStringLiteral("Can't open RAM file"));
        QCOMPARE(bench.Page().Settings().Entries(0).front(), std::string("/gone/ram.ldr"));
        QCOMPARE(bench.Page().Settings().Entries(1).front(), std::string("/gone/main.ldp"));
        QCOMPARE(started.count(), 0);
        QVERIFY(bench.LoadButton()->isEnabled());
    }

    // Power-on capture: the Capturing dialog comes and goes, the lamps go blue, red, green.
    void ReceiverLoadLightsTheLampsInOrderAndShowsTheCapturePrompt()
    {
        auto receiver = Receiver(300);
        Bench bench(receiver);
        bench.TypeImages(BuildRamImage({true, 20, "", 3000}), BuildFlashImage({20, "3.3 Dec,08,2026", 5000, true}));
        LampLog ramLamp(bench.Page().findChildren<CLampCtrl*>().at(0));
        LampLog flashLamp(bench.Page().findChildren<CLampCtrl*>().at(1));
        bool promptSeen = false;
        QRect promptFrame;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (bench.Page().CapturingDialog() && bench.Page().CapturingDialog()->isVisible()) {
                promptSeen = true;
                promptFrame = bench.Page().CapturingDialog()->frameGeometry();
            }
        });
        watch.start(20);
        QCOMPARE(bench.LoadAndWait(), int(LOAD_OK));
        QVERIFY(promptSeen);
        // The prompt with its title bar stands on the "Firmware" group, centred on the page.
        const auto* firmware = bench.Page().findChild<QGroupBox*>();
        QCOMPARE(promptFrame.bottom(), firmware->mapToGlobal(QPoint(0, firmware->height() - 1)).y());
        const int pageCentre = bench.Page().mapToGlobal(bench.Page().rect().center()).x();
        QVERIFY(qAbs(promptFrame.center().x() - pageCentre) <= 1);
        QCOMPARE(bench.Page().CapturingDialog(), nullptr);
        QCOMPARE(ramLamp.cells, (QStringList{"blue", "red", "green"}));
        QCOMPARE(flashLamp.cells, (QStringList{"blue", "red", "green"}));
        QCOMPARE(receiver->FirmwareVersion(), std::string("3.3 Dec,08,2026"));
        QTRY_COMPARE(bench.Frame().Pane(0)->text(), QStringLiteral("Loading completed"));
        QCOMPARE(bench.Frame().focusWidget(), bench.LoadButton());
    }

    // A failure keeps the load's own last text, the reason, not the result's general name.
    void FailedLoadKeepsItsReasonAndGivesTheControlsBack()
    {
        {
            Bench bench(Receiver(200, 33));
            bench.TypeImages(BuildRamImage({true, 20, "", 100}), BuildFlashImage({20, "3.4", 600, true}));
            QCOMPARE(bench.LoadAndWait(), int(LOAD_VERSION_ERROR));
            QCOMPARE(bench.Frame().MainStatus().Text(), std::string("Improper RAM file for this device"));
            QTRY_COMPARE(bench.Frame().Pane(0)->text(), QStringLiteral("Improper RAM file for this device"));
            QVERIFY(bench.LoadButton()->isEnabled());
            QVERIFY(bench.Control<QComboBox>("captureMethod")->isEnabled());
            QVERIFY(bench.Sheet().Connection().findChild<QComboBox*>(QStringLiteral("pcPort"))->isEnabled());
        }
        // The end frame carries the image's last bytes: refused, the image was not loaded.
        const std::vector<uint8_t> flash = BuildFlashImage({20, "3.4", 600, true});
        ReceiverConfig config;
        config.powerCycleAfterMs = 200;
        config.flashWriteMs = 20;
        config.flashFaults.errorFrame = static_cast<int>(flash.size() / 512);
        Bench refused(std::make_shared<ReceiverModel>(config));
        refused.TypeImages(BuildRamImage({true, 20, "", 100}), flash);
        QCOMPARE(refused.LoadAndWait(), int(LOAD_GENERIC_ERROR));
        QCOMPARE(refused.Frame().MainStatus().Text(), std::string("Error in Flash file loading"));
    }

    // A receiver that is found but never captured: three capture attempts, then the end.
    void SoftBreakThatNeverCapturesIsTriedThreeTimes()
    {
        ReceiverConfig config;
        config.commands.unanswered.insert("set,reset,yes");  // never restarts into its boot loader
        auto receiver = std::make_shared<ReceiverModel>(config);
        Bench bench(receiver, {"-c", "soft"});
        bench.TypeImages(BuildRamImage({true, 20, "", 100}), BuildFlashImage({20, "3.5", 600, true}));
        QSignalSpy started(&bench.Page(), &CPSProgram::LoadStarted);
        QCOMPARE(bench.LoadAndWait(60000), int(LOAD_CANT_CAPTURE));
        QCOMPARE(started.count(), 3);
        QVERIFY(bench.Page().findChildren<CLampCtrl*>().at(0)->CurrentShade() == CLampCtrl::Shade::Grey);
    }

    void CancelDuringTheCountdownEndsTheLoadAsAborted()
    {
        Bench bench(Receiver(-1));  // nobody switches this one off and on
        bench.Page().SetTimings([] {
            CPSProgram::Timings timings = QuickTimings();
            timings.load.captureLimitMs = 20000;
            return timings;
        }());
        bench.TypeImages(BuildRamImage({true, 20, "", 100}), BuildFlashImage({20, "3.6", 600, true}));
        QString countdown;
        bool hidden = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            CCapturingDialog* dialog = bench.Page().CapturingDialog();
            if (dialog == nullptr || !dialog->isVisible() || !countdown.isEmpty())
                return;
            countdown = dialog->Bar()->GetText();
            QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton);
            hidden = !dialog->isVisible();
        });
        watch.start(20);
        QCOMPARE(bench.LoadAndWait(), int(LOAD_ABORTED));
        QCOMPARE(countdown, QStringLiteral("Time remaining: 15 sec"));
        QVERIFY(hidden);
        QCOMPARE(bench.Page().CapturingDialog(), nullptr);
    }

    void PowerBoardTakesOneImageAndComplainsInAMessageBox()
    {
        ReceiverConfig config;
        config.powerCycleAfterMs = 200;
        config.loadTarget = LoadTarget::PowerBoard;
        auto board = std::make_shared<ReceiverModel>(config);
        Bench bench(board, {"-d", "pbr"});
        // Grey until the board has taken the image as its own, then blue, as a receiver's.
        std::optional<CLampCtrl::Shade> ramLampAtStart;
        QObject::connect(&bench.Page(), &CPSProgram::LoadStarted, [&] {
            ramLampAtStart = bench.Page().findChildren<CLampCtrl*>().at(0)->CurrentShade();
        });
        QVERIFY(!bench.Control<CPathComboBox>("flashFile")->isVisible());
        QCOMPARE(bench.Control<CPathComboBox>("ramFile")->FullPath(), QStringLiteral("powbrd.ldr"));
        QStringList shown;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&shown] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown << box->text();
                box->accept();
            }
        });
        closer.start(50);
        QTest::mouseClick(bench.LoadButton(), Qt::LeftButton);
        QCOMPARE(shown, QStringList{QStringLiteral("Can't open Flash file")});
        bench.Type("ramFile", bench.Write("powbrd.ldr", BuildRamImage({true, 22, "2.0 Dec,08,2026", 800})));
        QCOMPARE(bench.LoadAndWait(), int(LOAD_OK));
        QCOMPARE(shown.size(), 1);
        QCOMPARE(board->PowerBoardFirmware(), std::string("2.0 Dec,08,2026"));
        QVERIFY(ramLampAtStart == CLampCtrl::Shade::Grey);
    }

    // With -e the program ends after it, as after the other kinds' loads.
    void DisplayUnitIsProgrammedOnThisThreadWithTheBarReachingTheEnd()
    {
        auto unit = std::make_shared<Vdk1Model>();
        Bench bench(unit, {"-d", "vdk1", "-e"});
        QSignalSpy closed(&bench.Frame(), &CMainFrame::Closed);
        auto* capture = bench.Control<QComboBox>("captureMethod");
        QVERIFY(!capture->isEnabled());
        QVERIFY(bench.LoadButton()->isEnabled());
        QCOMPARE(bench.LoadAndWait(120000), int(LOAD_OK));
        QCOMPARE(bench.Control<CTextProgressCtrl>("progress")->GetPos(), 100);
        QCOMPARE(bench.Status(), QStringLiteral("Loading completed"));
        QVERIFY(!capture->isEnabled());
        QVERIFY(bench.LoadButton()->isEnabled());
        QTRY_COMPARE(closed.count(), 1);
    }

    // The window goes at once; the program ends once the load has stopped.
    void ClosingDuringALoadHidesAtOnceAndEndsWhenTheLoadHasStopped()
    {
        Bench bench(Receiver(-1));  // nobody switches it off and on: the capture waits
        CPSProgram::Timings timings = QuickTimings();
        timings.load.captureLimitMs = 20000;
        bench.Page().SetTimings(timings);
        bench.TypeImages(BuildRamImage({true, 20, "", 100}), BuildFlashImage({20, "3.7", 600, true}));
        QSignalSpy started(&bench.Page(), &CPSProgram::LoadStarted);
        QSignalSpy closed(&bench.Frame(), &CMainFrame::Closed);
        QTest::mouseClick(bench.LoadButton(), Qt::LeftButton);
        QTRY_COMPARE(started.count(), 1);
        QVERIFY(!bench.Page().Done());
        bench.Frame().close();
        QVERIFY(!bench.Frame().isVisible());
        bench.Frame().close();  // a second request while the first waits changes nothing
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 10000);
        QVERIFY(bench.Page().Done());
        QCOMPARE(bench.Page().CapturingDialog(), nullptr);
    }

    // A soft break first looks for the receiver on this thread: a close meanwhile must wait
    // for that search, which gives up at once, and must not find the page idle.
    void ClosingWhileTheSoftBreakStartSearchesWaitsForIt()
    {
        auto receiver = Receiver();
        receiver->SetFaults(LineFaults{.silent = true});
        Bench bench(receiver, {"-c", "soft"});
        bench.Page().SetTimings(CPSProgram::Timings{});  // the search alone would take long
        bench.TypeImages(BuildRamImage({true, 20, "", 100}), BuildFlashImage({20, "3.8", 600, true}));
        QSignalSpy closed(&bench.Frame(), &CMainFrame::Closed);
        QSignalSpy finished(&bench.Page(), &CPSProgram::LoadFinished);
        QTimer::singleShot(700, [&] {
            QVERIFY(!bench.Page().Done());
            bench.Frame().close();
            QCOMPARE(closed.count(), 0);
        });
        QTest::mouseClick(bench.LoadButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 10000);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toInt(), int(LOAD_ABORTED));
    }

    // A file that is not there yet may be named; "&Load" says so if it is still missing then.
    void BrowseNamesAFileThatDoesNotExistYet()
    {
        Bench bench(Receiver());
        const QString later = QString::fromStdString(bench.Path("later.ldr"));
        bool tried = false;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                box->accept();  // "File not found": the dialog refused the name
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal); dialog != nullptr && tried) {
                dialog->reject();
            } else if (dialog != nullptr) {
                tried = true;
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(later);
                // The file dialog's own accept checks the name, and may ask in a box of its own,
                // which this timer must be free to answer.
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            }
        });
        answer.start(50);
        QTest::mouseClick(bench.Button(QStringLiteral("Browse &R")), Qt::LeftButton);
        QCOMPARE(bench.Control<CPathComboBox>("ramFile")->FullPath(), later);
        QCOMPARE(bench.Page().Settings().Entries(0).front(), later.toStdString());
    }

    // -a while a Device-page query holds the line: the load waits for the query's end, and
    // meanwhile nothing turns a control back on, typing in a path box included. During the
    // load the Device page is off as a whole.
    void AutomaticLoadWaitsForADeviceQuery()
    {
        auto receiver = Receiver(300);
        receiver->SetFaults(LineFaults{.silent = true});  // the query looks until it is cancelled
        Bench bench(receiver, {"-a", "-c", "pwr"});
        QElapsedTimer sinceShown;
        sinceShown.start();
        bench.TypeImages(BuildRamImage({true, 20, "", 100}), BuildFlashImage({20, "3.9", 600, true}));
        CPSDevice& device = bench.Sheet().Device();
        QPushButton* get = SimulatedDesk::Button(device, QStringLiteral("&Get from Device"));
        QPushButton* deviceCancel = SimulatedDesk::Button(device, QStringLiteral("&Cancel"));
        auto* port = bench.Sheet().Connection().findChild<QComboBox*>(QStringLiteral("pcPort"));
        bool typed = false;
        bool onDuringQuery = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!device.Busy())
                return;
            if (!typed) {
                typed = true;
                bench.Type("ramFile", bench.Path("ram.ldr"));
            }
            onDuringQuery = onDuringQuery || get->isEnabled() || port->isEnabled() ||
                            bench.LoadButton()->isEnabled();
            // Well past the moment the automatic load comes (some four seconds after the window).
            if (sinceShown.elapsed() > 2 * CKestrumView::kAutoLoadPauseMs + 2000) {
                receiver->SetFaults(LineFaults{});
                QTest::mouseClick(deviceCancel, Qt::LeftButton);
            }
        });
        watch.start(100);
        QStringList starts;  // what the Device page was like at each start of a load
        QObject::connect(&bench.Page(), &CPSProgram::LoadStarted, [&] {
            const bool on = deviceCancel->isEnabled() || get->isEnabled();
            starts << (device.Busy() ? "querying" : on ? "on" : "off");
        });
        QSignalSpy finished(&bench.Page(), &CPSProgram::LoadFinished);
        QTimer::singleShot(0, &device, &CPSDevice::OnGetFromDevice);
        QVERIFY(finished.wait(60000));
        QVERIFY(typed && !onDuringQuery);
        QCOMPARE(starts, QStringList{QStringLiteral("off")});
        QCOMPARE(finished.first().first().toInt(), int(LOAD_OK));
        QVERIFY(get->isEnabled() && deviceCancel->isEnabled());
    }

    // "&Cancel" pressed while nothing runs must not stop the next VDK-1 run.
    void StaleCancelDoesNotAbortTheNextDisplayUnitRun()
    {
        Bench bench(std::make_shared<Vdk1Model>(), {"-d", "vdk1"});
        bench.Button(QStringLiteral("&Cancel"))->click();
        QCOMPARE(bench.LoadAndWait(120000), int(LOAD_OK));
    }

    // The settings file's way to the VDK-1 reaches the run: bit-bang asked for on a port
    // that is no FTDI adapter programs nothing.
    void DisplayUnitLinesOfTheSettingsReachTheRun()
    {
        auto unit = std::make_shared<Vdk1Model>();
        Bench bench(unit, {"-d", "vdk1"}, "[ProgramSettings]\nVdkLines=bitbang\n");
        QCOMPARE(bench.LoadAndWait(), int(LOAD_GENERIC_ERROR));
        QCOMPARE(bench.Status(), QStringLiteral("Error in Port opening"));
        QCOMPARE(unit->ChipErases(), 0);
    }
};

QTEST_MAIN(ProgramPageTest)
#include "program_page_test.moc"
