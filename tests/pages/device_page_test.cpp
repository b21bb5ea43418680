// The Device page: the device kind, "&Get from Device" against simulated devices, and the
// device-information file.
#include <QComboBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <sys/resource.h>

#include "app/build_date.h"
#include "gui/c_kestrum_view.h"
#include "gui/c_main_frame.h"
#include "gui/simulated_desk.h"
#include "pages/c_ps_connection.h"
#include "pages/c_ps_device.h"
#include "pages/c_ps_loader.h"
#include "pages/c_ps_program.h"
#include "sim/receiver_model.h"
#include "sim/sim_port_registry.h"
#include "sim/vdk1_model.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

ProtocolTiming QuickTiming()
{
    ProtocolTiming timing;
    timing.settlePauseMs = 30;
    timing.exchangePauseMs = 30;
    timing.replyPollMs = 10;
    timing.replyTimeoutCapMs = 150;
    timing.vdkConnectTimeoutMs = 1500;
    return timing;
}

// The desk on the Device page, with quick waits.
class Bench : public SimulatedDesk {
public:
    explicit Bench(std::shared_ptr<DeviceModel> model, std::vector<std::string> arguments = {},
                   const std::string& settings = "")
        : SimulatedDesk(std::move(model), std::move(arguments), settings)
    {
        Sheet().SetActivePage(CPSLoader::kDevicePage);
        Page().SetTiming(QuickTiming());
    }

    CPSDevice& Page() { return Sheet().Device(); }
    QString Box() { return Page().findChild<QPlainTextEdit*>(QStringLiteral("deviceInformation"))->toPlainText(); }
    using SimulatedDesk::Button;
    QPushButton* Get() { return Button(Page(), QStringLiteral("&Get from Device")); }
    void ChooseKind(int kind)
    {
        auto* kinds = Page().findChild<QComboBox*>(QStringLiteral("deviceType"));
        kinds->setFocus();
        kinds->setCurrentIndex(kind);
        Q_EMIT kinds->activated(kind);
    }
};

// The box shows the information text with plain line breaks.
QString Shown(const char* text)
{
    return QString::fromLatin1(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

std::shared_ptr<ReceiverModel> Receiver(uint32_t rate = 115200)
{
    ReceiverConfig config;
    config.commands.rate = rate;
    return std::make_shared<ReceiverModel>(config);
}

}  // namespace

class DevicePageTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void KindFromTheCommandLineAndTheSettingsFile()
    {
        const struct {
            std::vector<std::string> arguments;
            const char* stored;
            int kind;
        } cases[] = {{{"-d", "receiver"}, "Device_Type=1", 0},
                     {{"-d", "REC"}, "Device_Type=1", 1},
                     {{"-d", "pbr"}, "", 1},
                     {{"-d", "vdk1x"}, "", 2},
                     {{}, "Device_Type=5", 0},
                     {{}, "Device_Type=2", 2}};
        for (const auto& c : cases) {
            Bench bench(Receiver(), c.arguments, std::string("[DeviceSettings]\n") + c.stored + "\n");
            QCOMPARE(bench.Page().GetDeviceKind(), c.kind);
            QCOMPARE(bench.Frame().windowTitle(), CPSDevice::TitleFor(c.kind));
        }
        QCOMPARE(CPSDevice::TitleFor(0), QStringLiteral("Vexil Firmware Loader:  Device = Receiver"));
        QCOMPARE(CPSDevice::TitleFor(1), QStringLiteral("Vexil Firmware Loader:  Device = Receiver's Power Board"));
        QCOMPARE(CPSDevice::TitleFor(2), QStringLiteral("Vexil Firmware Loader:  Device = VDK-1"));
    }

    // The receiver talks at 9600 while the port starts at 115200: the search finds it.
    void ReceiverQueryFillsTheBoxAndLocksTheOtherControlsMeanwhile()
    {
        Bench bench(Receiver(9600));
        QCOMPARE(bench.Box(), Shown("Model:\r\nID:\r\nFirmware:\r\nHardware:\r\nRAM Size, KB:"));
        QList<QWidget*> locked = {bench.Sheet().Connection().findChild<QComboBox*>(QStringLiteral("pcPort")),
                                  bench.Button(bench.Sheet().Program(), QStringLiteral("&Load")),
                                  bench.Button(bench.Sheet().Program(), QStringLiteral("&Cancel")),
                                  bench.Page().findChild<QComboBox*>(QStringLiteral("deviceType")), bench.Get(),
                                  bench.Button(bench.Page(), QStringLiteral("&Save to file"))};
        bool allLocked = true;
        int looks = 0;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!bench.Page().Busy())
                return;
            ++looks;
            for (QWidget* control : locked)
                allLocked = allLocked && !control->isEnabled();
        });
        watch.start(10);
        QTest::mouseClick(bench.Get(), Qt::LeftButton);
        QVERIFY(looks > 0);
        QVERIFY(allLocked);
        QCOMPARE(bench.Box(), Shown("Model:\t\tRX-24 GNSS\r\nID:\t\t24A0031F\r\nFirmware:\t\t2.4 Mar,14,2026\r\n"
                                    "Hardware:\t\t3\r\nRAM Size, KB:\t4096"));
        for (QWidget* control : locked)
            QVERIFY2(control->isEnabled(), qPrintable(control->objectName()));
        QCOMPARE(bench.Frame().focusWidget(), bench.Button(bench.Page(), QStringLiteral("&Save to file")));
    }

    void PowerBoardAndDisplayUnitQueries()
    {
        Bench board(Receiver(), {"-d", "pbr"});
        QTest::mouseClick(board.Get(), Qt::LeftButton);
        QCOMPARE(board.Box(), Shown("Firmware:\t\t1.7 Jan,20,2026\r\nHardware:\t\t2\r\n"));

        Bench unit(std::make_shared<Vdk1Model>(), {"-d", "vdk1"});
        QTest::mouseClick(unit.Get(), Qt::LeftButton);
        QCOMPARE(unit.Box(), Shown("Firmware:\t\t01.00\r\nHardware:\t\t2\r\n"));
    }

    void SilentDeviceGivesTheFailureTextAndKeepsTheLabels()
    {
        auto receiver = Receiver();
        receiver->SetFaults(LineFaults{.silent = true});
        Bench bench(receiver);
        QTest::mouseClick(bench.Get(), Qt::LeftButton);
        QCOMPARE(QString::fromStdString(bench.Page().StatusChannel().Text()), QStringLiteral("Can't connect with receiver"));
        QCOMPARE(bench.Box(), Shown("Model:\r\nID:\r\nFirmware:\r\nHardware:\r\nRAM Size, KB:"));
    }

    void CancelEndsTheRateSearchPromptly()
    {
        auto receiver = Receiver();
        receiver->SetFaults(LineFaults{.silent = true});
        Bench bench(receiver);
        bench.Page().SetTiming(ProtocolTiming{});  // the search would take long without the cancel
        QTimer::singleShot(500, [&] { QTest::mouseClick(bench.Button(bench.Page(), QStringLiteral("&Cancel")), Qt::LeftButton); });
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(bench.Get(), Qt::LeftButton);
        QVERIFY2(clock.elapsed() < 5000, "the search ended soon after the cancel");
        QVERIFY(!bench.Page().Busy());
    }

    void ClosingTheWindowDuringAQueryEndsItAndTheProgram()
    {
        auto receiver = Receiver();
        receiver->SetFaults(LineFaults{.silent = true});
        Bench bench(receiver);
        bench.Page().SetTiming(ProtocolTiming{});
        QSignalSpy closed(&bench.Frame(), &CMainFrame::Closed);
        QTimer::singleShot(500, [&] { bench.Frame().close(); });
        QTest::mouseClick(bench.Get(), Qt::LeftButton);
        QVERIFY(!bench.Frame().isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 5000);
    }

    // The file byte for byte: four blocks, CR LF, tabs; the device block lists only values.
    void DeviceInformationFileLayout()
    {
        Bench bench(Receiver(), {"-s", "9600"});
        const std::string path = bench.Path("device.txt");
        QVERIFY(bench.Page().WriteDeviceFile(path));
        const std::string header = "File created by\tVexil Firmware Loader\r\n\r\nVersion:\t1.0.07\r\nBuild:\t\t" +
                                   BuildDateText() + "\r\n\r\nConnection information:\r\n\r\n";
        const std::string connection = "Connection:\tSerial Cable\r\nPC Port:\t" + bench.Port() +
                                       "\r\nBaud rate:\t9600\r\nHandshaking:\tNone\r\nWord Length:\t8\r\nParity:\t\tNone\r\n"
                                       "Stop Bits:\t1\r\n";
        const std::string program =
            "Capture Method:\tPower On Capture\r\nRAM file:\tramimage.ldr\r\nFlash File:\tmain.ldp\r\n";
        QCOMPARE(ReadFile(path), header + connection + "\r\n\r\nDevice information:\r\n\r\nDevice: \tReceiver\r\n\r\n" +
                                     "\r\nProgram information:\r\n\r\n" + program + "\r\n\r\n");

        QTest::mouseClick(bench.Get(), Qt::LeftButton);
        bench.ChooseKind(1);  // the receiver's values stay until a new query
        QCOMPARE(bench.Page().GetDeviceInfoText(),
                 std::string("Device: \tReceiver's Power Board\r\nModel:\t\tRX-24 GNSS\r\nID:\t\t24A0031F\r\n"
                             "Firmware:\t2.4 Mar,14,2026\r\nHardware:\t3\r\nRAM Size, KB:\t4096"));
        QVERIFY(bench.Page().WriteDeviceFile(path));
        QVERIFY(ReadFile(path).find("\r\nProgram information:\r\n\r\nCapture Method:\tPower On Capture\r\n"
                                    "RAM file:\tpowbrd.ldr\r\n\r\n\r\n") != std::string::npos);
        QTest::mouseClick(bench.Get(), Qt::LeftButton);
        QCOMPARE(bench.Page().GetDeviceInfoText(),
                 std::string("Device: \tReceiver's Power Board\r\nFirmware:\t1.7 Jan,20,2026\r\nHardware:\t2"));
    }

    void SavingOverALongerFileLeavesNoOldTail()
    {
        Bench bench(Receiver());
        const std::string path = bench.Path("report.txt");
        WriteFile(path, std::string(20000, '~'));
        QVERIFY(bench.Page().WriteDeviceFile(path));
        QVERIFY(ReadFile(path).find('~') == std::string::npos);
        QCOMPARE(bench.Page().FilePath(), path);
    }

    // A disk that fills up mid-write (a file-size limit stands for it): the message box, the
    // old report intact, the stored path as it was.
    void FailedWriteKeepsTheOldFileAndThePath()
    {
        Bench bench(Receiver());
        const std::string old = bench.Path("old.txt");
        QVERIFY(bench.Page().WriteDeviceFile(old));
        const std::string previous = std::string(100, 'p');
        WriteFile(old, previous);
        QStringList boxes;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&boxes] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->text();
                box->accept();
            }
        });
        closer.start(50);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit small{200, limit.rlim_max};
        setrlimit(RLIMIT_FSIZE, &small);
        const bool written = bench.Page().WriteDeviceFile(old);
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!written);
        QCOMPARE(ReadFile(old), previous);
        QCOMPARE(boxes, QStringList{QStringLiteral("Couldn't create the file:\n") + QString::fromStdString(old)});

        QVERIFY(!bench.Page().WriteDeviceFile("/proc/kestrum-report.txt"));
        QCOMPARE(bench.Page().FilePath(), old);
        QCOMPARE(boxes.size(), 2);
    }
};

QTEST_MAIN(DevicePageTest)
#include "device_page_test.moc"
