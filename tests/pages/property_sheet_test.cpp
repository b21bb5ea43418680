// The property sheet: its pages, and their activation when it is shown.
#include <QSignalSpy>
#include <QTest>

#include "gui/desktop_fixture.h"
#include "pages/c_ps_connection.h"
#include "pages/c_ps_device.h"
#include "pages/c_ps_loader.h"
#include "pages/c_ps_program.h"

using namespace kestrum;
using namespace kestrum::test;

class PropertySheetTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void PagesInOrderWithTheirTitles()
    {
        DesktopFixture desktop;
        CPSLoader sheet(desktop.Start(), -1, nullptr);
        QCOMPARE(sheet.count(), 3);
        QCOMPARE(sheet.tabText(CPSLoader::kConnectionPage), QStringLiteral("Connection"));
        QCOMPARE(sheet.tabText(CPSLoader::kDevicePage), QStringLiteral("Device"));
        QCOMPARE(sheet.tabText(CPSLoader::kProgramPage), QStringLiteral("Program"));
        QCOMPARE(sheet.currentIndex(), 0);
    }

    // Every page's controls exist once the sheet has been shown, so one page may use
    // another's before the user has opened it.
    void ShowingActivatesEachPageOnceAndReturnsToTheActiveOne()
    {
        DesktopFixture desktop;
        CPSLoader sheet(desktop.Start(), -1, nullptr);
        QSignalSpy changes(&sheet, &QTabWidget::currentChanged);
        sheet.show();
        QList<int> order;
        for (const QList<QVariant>& change : changes)
            order << change.at(0).toInt();
        QCOMPARE(order, (QList<int>{1, 2, 0}));
        QVERIFY(sheet.Connection().Initialised());
        QVERIFY(sheet.Device().Initialised());
        QVERIFY(sheet.Program().Initialised());

        sheet.setCurrentIndex(CPSLoader::kDevicePage);
        sheet.hide();
        sheet.show();
        QCOMPARE(sheet.currentIndex(), int(CPSLoader::kDevicePage));
    }
};

QTEST_MAIN(PropertySheetTest)
#include "property_sheet_test.moc"
