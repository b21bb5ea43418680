// The Connection page: which port and line settings it shows at start, what it hands to
// the work on the line, and what it stores at exit.
#include <QComboBox>
#include <QTest>

#include <memory>

#include "gui/desktop_fixture.h"
#include "link/pty_pair.h"
#include "pages/c_connection_selection.h"
#include "pages/c_ps_connection.h"
#include "pages/c_ps_loader.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

// The sheet as the main window holds it, shown once so every page is initialised.
std::unique_ptr<CPSLoader> ShownSheet(CKestrumApp& app)
{
    auto sheet = std::make_unique<CPSLoader>(app, -1, nullptr);
    sheet->show();
    return sheet;
}

QString Shown(CPSLoader& sheet, const char* list)
{
    return sheet.Connection().findChild<QComboBox*>(QString::fromLatin1(list))->currentText();
}

}  // namespace

class ConnectionPageTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void CommandLineChoicesWinOverStoredOnesAndAreStoredAtExit()
    {
        DesktopFixture desktop;
        desktop.WriteSettings("[PortSettings]\nName=" + desktop.Port("ttyS0") + "\nSpeed=57600\nHandshake=0\n");
        CKestrumApp& app = desktop.Start({"-p", desktop.Port("ttyUSB1"), "-s", "9600", "-hs", "rts"});
        {
            auto sheet = ShownSheet(app);
            QCOMPARE(Shown(*sheet, "pcPort"), QString::fromStdString(desktop.Port("ttyUSB1")));
            QCOMPARE(Shown(*sheet, "baudRate"), QStringLiteral("9600"));
            QCOMPARE(Shown(*sheet, "handshaking"), QStringLiteral("RTS/CTS"));
            PortSettings settings;
            sheet->Connection().GetPortSettings(settings);
            QCOMPARE(settings.port, desktop.Port("ttyUSB1"));
            QCOMPARE(settings.speed, 9600);
            QCOMPARE(settings.handshaking, 1);
        }
        CSettingsFile stored(desktop.SettingsPath());
        QCOMPARE(stored.GetText("PortSettings", "Name", ""), desktop.Port("ttyUSB1"));
        QCOMPARE(stored.GetInt("PortSettings", "Speed", 0), 9600);
        QCOMPARE(stored.GetInt("PortSettings", "Handshake", 0), 1);
        QCOMPARE(stored.GetInt("Communic", "ConnType", -1), 0);
    }

    // The list tells USB adapters apart, and a stored by-id name is the port it links to.
    void UsbAdaptersShowWhatTheyAreAndAreFoundByTheirStableName()
    {
        DesktopFixture desktop({"ttyS0"});
        const std::string byId = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
        desktop.AddUsbAdapter({"ttyUSB0", "FTDI", "FT232R USB UART", "A50285BI", byId});
        const std::string byIdPath = desktop.Port("serial/by-id/" + byId);
        desktop.WriteSettings("[PortSettings]\nName=" + byIdPath + "\n");
        CKestrumApp& app = desktop.Start();
        auto sheet = ShownSheet(app);
        auto* list = sheet->Connection().findChild<QComboBox*>(QStringLiteral("pcPort"));
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->currentText(), QString::fromStdString(desktop.Port("ttyUSB0")));
        const QString details = QString::fromStdString("FTDI FT232R USB UART, serial A50285BI\n" + byIdPath);
        QCOMPARE(list->itemData(1, Qt::ToolTipRole).toString(), details);
        QCOMPARE(list->toolTip(), details);
        QVERIFY(list->itemData(0, Qt::ToolTipRole).toString().isEmpty());
        list->setCurrentIndex(0);
        QVERIFY(list->toolTip().isEmpty());
    }

    void ValuesTheListsDoNotOfferAreIgnored()
    {
        DesktopFixture desktop;
        desktop.WriteSettings("[PortSettings]\nName=" + desktop.Port("ttyUSB0") + "\nSpeed=57600\nHandshake=1\n");
        CKestrumApp& app = desktop.Start({"-p", "ttyNOPE", "-s", "12345", "-hs", "RTS"});
        auto sheet = ShownSheet(app);
        QCOMPARE(Shown(*sheet, "pcPort"), QString::fromStdString(desktop.Port("ttyUSB0")));
        QCOMPARE(Shown(*sheet, "baudRate"), QStringLiteral("57600"));
        QCOMPARE(Shown(*sheet, "handshaking"), QStringLiteral("RTS/CTS"));
        QCOMPARE(sheet->Connection().Selection().UnofferedPort(), std::string("COMttyNOPE"));
    }

    void StoredIndexesOutsideTheListsAreIgnored()
    {
        DesktopFixture desktop;
        desktop.WriteSettings("[Communic]\nConnType=4\n[PortSettings]\nName=/dev/gone\nSpeed=1000000\n"
                              "WordLen=8\nParity=-1\nStopBits=2\nHandshake=7\n");
        CKestrumApp& app = desktop.Start();
        {
            auto sheet = ShownSheet(app);
            QCOMPARE(Shown(*sheet, "pcPort"), QString::fromStdString(app.DefaultPortName()));
            QCOMPARE(Shown(*sheet, "baudRate"), QStringLiteral("115200"));
            QCOMPARE(Shown(*sheet, "wordLength"), QStringLiteral("8"));
            QCOMPARE(Shown(*sheet, "parity"), QStringLiteral("None"));
            QCOMPARE(Shown(*sheet, "stopBits"), QStringLiteral("1"));
            QCOMPARE(Shown(*sheet, "handshaking"), QStringLiteral("None"));
            QCOMPARE(Shown(*sheet, "connectionType"), QString());
        }
        CSettingsFile stored(desktop.SettingsPath());
        QCOMPARE(stored.GetInt("PortSettings", "WordLen", -1), 3);
        QCOMPARE(stored.GetInt("PortSettings", "StopBits", -1), 0);
        QCOMPARE(stored.GetInt("PortSettings", "Speed", -1), 115200);
    }

    // XON/XOFF (2) is a stored value the list does not offer: no selection, kept as it is.
    void StoredXonXoffIsKeptWithoutASelection()
    {
        DesktopFixture desktop;
        desktop.WriteSettings("[PortSettings]\nHandshake=2\n");
        CKestrumApp& app = desktop.Start();
        {
            auto sheet = ShownSheet(app);
            QCOMPARE(sheet->Connection().findChild<QComboBox*>(QStringLiteral("handshaking"))->currentIndex(), -1);
            PortSettings settings;
            settings.handshaking = 9;
            sheet->Connection().GetPortSettings(settings);
            QCOMPARE(settings.handshaking, 9);
        }
        QCOMPARE(CSettingsFile(desktop.SettingsPath()).GetInt("PortSettings", "Handshake", -1), 2);
    }

    void TheUsersPicksAreWhatTheLineGets()
    {
        DesktopFixture desktop;
        CKestrumApp& app = desktop.Start();
        auto sheet = ShownSheet(app);
        auto* rate = sheet->Connection().findChild<QComboBox*>(QStringLiteral("baudRate"));
        auto* parity = sheet->Connection().findChild<QComboBox*>(QStringLiteral("parity"));
        QTest::keyClick(rate, Qt::Key_Down);
        QTest::keyClick(parity, Qt::Key_End);
        PortSettings settings;
        sheet->Connection().GetPortSettings(settings);
        QCOMPARE(settings.speed, 153600);
        QCOMPARE(settings.parity, 2);
        QCOMPARE(settings.dtrLow, 1);  // never touched
    }

    void NothingIsWrittenWithTheFlagOff()
    {
        DesktopFixture desktop;
        desktop.WriteSettings("[Activate]\nSaveSett=0\n");
        CKestrumApp& app = desktop.Start({"-s", "9600"});
        ShownSheet(app).reset();
        QCOMPARE(desktop.Settings(), std::string("[Activate]\nSaveSett=0\n"));
    }

    // A pseudo-terminal or a network port named on the command line is offered and used.
    void PortNamedOnTheCommandLineIsOfferedAndUsed()
    {
        PtyPair pty;
        QVERIFY(pty.Ok());
        for (const std::string& name : {pty.SlaveName(), std::string("rfc2217://bench-7:4001")}) {
            DesktopFixture desktop;
            CKestrumApp& app = desktop.Start({"-p", name});
            auto sheet = ShownSheet(app);
            QCOMPARE(Shown(*sheet, "pcPort"), QString::fromStdString(name));
            PortSettings settings;
            sheet->Connection().GetPortSettings(settings);
            QCOMPARE(settings.port, name);
            QVERIFY(sheet->Connection().Selection().UnofferedPort().empty());
        }
    }
};

QTEST_MAIN(ConnectionPageTest)
#include "connection_page_test.moc"
