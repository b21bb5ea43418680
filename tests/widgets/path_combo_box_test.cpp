// The image path boxes as a technician uses them: long paths shortened while the box is
// left alone, the full path to edit inside it, and a list wide enough for its paths.
#include <QAbstractItemView>
#include <QLineEdit>
#include <QTest>

#include "widgets/c_path_combo_box.h"
#include "widgets/c_path_combo_rules.h"

using namespace kestrum;

namespace {

// Ten pixels a character, so the numbers below can be counted.
int TenPerCharacter(const std::string& text)
{
    return static_cast<int>(text.size()) * 10;
}

const QString kLongPath = QStringLiteral("/home/tech/firmware/receiver/release/images/main.ldp");

// A page with a path box 100 pixels from either edge, allowed to widen up to them, and an
// edit box that has the keyboard at first.
struct Page {
    Page()
    {
        window.setGeometry(60, 60, 400, 120);
        box = new CPathComboBox(&window);
        box->setGeometry(100, 10, 200, box->sizeHint().height());
        box->SetExtents(100, 100);
        other = new QLineEdit(&window);
        other->setGeometry(100, 60, 200, other->sizeHint().height());
        other->setFocus();
    }

    // The list's screen rectangle while it is dropped down.
    QRect DroppedList()
    {
        box->showPopup();
        const QRect area = box->view()->window()->geometry();
        box->hidePopup();
        return area;
    }

    QWidget window;
    CPathComboBox* box = nullptr;
    QLineEdit* other = nullptr;
};

} // namespace

class PathComboBoxTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void LongPathsLoseWholeLeadingDirectories()
    {
        const CPathComboRules rules(TenPerCharacter, 0, 0);
        const std::string linux = "/home/tech/firmware/rx/main.ldp"; // 310 pixels
        const std::string drive = "C:\\data\\fw\\rx\\main.ldp";
        const struct {
            std::string path;
            int width;
            std::string shown;
        } cases[] = {
            {linux, 270, linux}, // exactly 15% wider than the box
            {linux, 269, "/.../tech/firmware/rx/main.ldp"},
            {linux, 140, "/.../rx/main.ldp"},
            {linux, 10, "/.../main.ldp"},
            {drive, 180, "C:\\...\\rx\\main.ldp"},
            {"/data/a\\b.ldp", 10, "/.../a\\b.ldp"},
            {"/main.ldp", 1, "/main.ldp"},
            {"C:\\main.ldp", 1, "C:\\main.ldp"},
            {"main.ldp", 1, "main.ldp"},
        };
        for (const auto& c : cases)
            QCOMPARE(rules.Shortened(c.path, c.width), c.shown);
    }

    void ListNeedsItsWidestEntryScaledPlusFrameAndScrollBar()
    {
        CPathComboRules rules(TenPerCharacter, 2, 16);
        rules.AddEntry(std::string(27, 'a')); // 270 * 10 / 13 = 207.7
        rules.AddEntry(std::string(13, 'a'));
        QCOMPARE(rules.RequiredWidth(), 207 + 4 + 16);
        rules.ClearEntries();
        rules.AddEntry(std::string(13, 'a'));
        QCOMPARE(rules.RequiredWidth(), 100 + 4 + 16);
    }

    void ListGrowsIntoTheRoomItIsGiven()
    {
        using Width = CPathComboRules::DropDown::Width;
        constexpr int kFree = CPathComboRules::kNoLimit;
        // A box at x 100 whose list needs 300; placed lists run from left to right.
        const struct {
            int leftExtent, rightExtent, controlWidth;
            Width dropWidth;
            bool placed;
            int left, right;
        } cases[] = {
            {0, 0, 150, Width::AsControl, false, 0, 0},
            {kFree, kFree, 300, Width::AsControl, false, 0, 0},
            {0, kFree, 150, Width::Required, false, 0, 0},
            {200, 0, 150, Width::Unchanged, true, -50, 250},
            {50, 300, 150, Width::Unchanged, true, 50, 350},
            {50, 40, 150, Width::Unchanged, true, 50, 290},
            {50, kFree, 150, Width::Unchanged, true, 50, 350},
            {kFree, 30, 150, Width::Unchanged, true, -20, 280},
            {kFree, kFree, 150, Width::Unchanged, true, 100, 400},
        };
        CPathComboRules rules(TenPerCharacter, 0, 0);
        rules.AddEntry(std::string(39, 'a'));
        QCOMPARE(rules.RequiredWidth(), 300);
        for (const auto& c : cases) {
            rules.SetExtents(c.leftExtent, c.rightExtent);
            const CPathComboRules::DropDown plan = rules.PlanDropDown(100, c.controlWidth);
            const QString row = QStringLiteral("extents %1, %2").arg(c.leftExtent).arg(c.rightExtent);
            QVERIFY2(plan.dropWidth == c.dropWidth && plan.placed == c.placed, qPrintable(row));
            QVERIFY2(!c.placed || (plan.listLeft == c.left && plan.listRight == c.right), qPrintable(row));
        }
    }

    void BoxShowsTheFullPathOnlyWhileTheUserIsInIt()
    {
        Page page;
        page.box->AddString(kLongPath);
        page.box->SetCurSel(0);
        page.window.show();
        page.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&page.window));
        QVERIFY2(page.box->currentText().startsWith(QStringLiteral("/.../")),
                 qPrintable(page.box->currentText()));
        QVERIFY(page.box->currentText().endsWith(QStringLiteral("/images/main.ldp")));
        QCOMPARE(page.box->FullPath(), kLongPath);

        page.box->setFocus(Qt::TabFocusReason);
        QCOMPARE(page.box->lineEdit()->selectedText(), kLongPath);
        // Dropping the list down and picking the entry again leaves the user in the box.
        page.box->showPopup();
        QCOMPARE(page.box->currentText(), kLongPath);
        page.box->hidePopup();
        page.box->SetCurSel(0);
        QCOMPARE(page.box->currentText(), kLongPath);
        page.other->setFocus(Qt::TabFocusReason);
        QCOMPARE(page.box->FullPath(), kLongPath);
        QVERIFY(page.box->currentText().startsWith(QStringLiteral("/.../")));

        page.box->setFocus(Qt::MouseFocusReason);
        QCOMPARE(page.box->lineEdit()->selectedText(), kLongPath);
        QTest::keyClicks(page.box, QStringLiteral("/srv/x.ldp"));
        QCOMPARE(page.box->FullPath(), QStringLiteral("/srv/x.ldp"));
        page.other->setFocus(Qt::TabFocusReason);
        QCOMPARE(page.box->currentText(), QStringLiteral("/srv/x.ldp"));
        QCOMPARE(page.box->FullPath(), QStringLiteral("/srv/x.ldp"));
    }

    void ListWidensToItsLongestPathWithinThePage()
    {
        Page page;
        page.box->AddString(QStringLiteral("/a.ldp"));
        page.box->AddString(kLongPath);
        page.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page.window));
        QVERIFY2(page.box->RequiredWidth() >
                     QFontMetrics(page.box->view()->font()).horizontalAdvance(kLongPath),
                 "the longest path fits");
        const QRect box(page.box->mapToGlobal(QPoint(0, 0)), page.box->size());
        const int extra = page.box->RequiredWidth() - box.width();
        QVERIFY2(extra > 0 && extra < 200, "the page has room for the list");
        const QRect list = page.DroppedList();
        QCOMPARE(list.width(), page.box->RequiredWidth());
        QCOMPARE(list.left(), box.left() - std::min(extra, 100));

        page.box->SetExtents(0, 0);
        const QRect narrow = page.DroppedList();
        QCOMPARE(narrow.left(), box.left());
        QCOMPARE(narrow.width(), box.width());
    }
};

QTEST_MAIN(PathComboBoxTest)
#include "path_combo_box_test.moc"
