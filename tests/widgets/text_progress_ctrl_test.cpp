// The progress bar as a technician watches it: the text readable on both sides of the
// bar's edge, the percentage or the owner's text, and no needless redrawing.
#include <QTest>

#include <climits>

#include "widgets/c_text_progress_ctrl.h"

using namespace kestrum;

namespace {

const QColor kBar(0, 0, 200);
const QColor kWindow(255, 255, 255);
const QColor kGrey(190, 190, 190);

// A window whose palette gives the bar its colours, with the bar across it in a large font.
struct BarWindow {
    explicit BarWindow(int width = 300, int height = 40)
    {
        QPalette palette = window.palette();
        palette.setColor(QPalette::Highlight, kBar);
        palette.setColor(QPalette::Base, kWindow);
        window.setPalette(palette);
        window.resize(width, height);
        bar = new CTextProgressCtrl(&window);
        bar->setGeometry(0, 0, width, height);
        QFont font = bar->font();
        font.setPixelSize(height * 3 / 4);
        font.setBold(true);
        bar->setFont(font);
        bar->SetBackgroundColour(kGrey);
    }

    QImage Picture() const { return bar->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    QWidget window;
    CTextProgressCtrl* bar = nullptr;
};

int CountPixels(const QImage& image, const QRect& area, const QColor& colour)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            count += image.pixelColor(x, y) == colour ? 1 : 0;
    }
    return count;
}

class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
    int paints = 0;
};

} // namespace

class TextProgressCtrlTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void TextTakesTheOtherSidesColourOnEitherSideOfTheEdge()
    {
        BarWindow w;
        w.bar->SetPos(50);
        const QImage picture = w.Picture();
        const QRect filled(0, 0, 150, 40), empty(150, 0, 150, 40);
        QVERIFY2(CountPixels(picture, filled, kWindow) > 20, "text over the bar in the window colour");
        QVERIFY2(CountPixels(picture, empty, kBar) > 20, "text over the background in the bar colour");
        QCOMPARE(CountPixels(picture, filled, kGrey), 0);
        QCOMPARE(CountPixels(picture, empty, kWindow), 0);
        w.bar->ShowText(false);
        QCOMPARE(CountPixels(w.Picture(), filled, kBar) + CountPixels(w.Picture(), empty, kGrey), 300 * 40);
    }

    void PercentageIsTruncatedAndAnOwnerTextReplacesIt()
    {
        BarWindow w;
        w.bar->SetRange(0, 1000);
        w.bar->SetPos(429);
        const QImage percentage = w.Picture();
        w.bar->SetText(QStringLiteral("43%"));
        QVERIFY(w.Picture() != percentage);
        w.bar->SetText(QStringLiteral("42%"));
        QCOMPARE(w.Picture(), percentage);
        w.bar->SetText(QStringLiteral("Time remaining: 15 sec"));
        QCOMPARE(w.bar->GetText(), QStringLiteral("Time remaining: 15 sec"));
        QVERIFY(w.Picture() != percentage);
        w.bar->SetText(QString());
        QCOMPARE(w.Picture(), percentage);
    }

    void BarIsRedrawnOnlyWhenItsFilledWidthChanges()
    {
        BarWindow w(50, 20);
        w.bar->SetRange(0, 1000);
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        PaintCounter counter(w.bar);
        QCOMPARE(w.bar->SetPos(100), 0); // 5 pixels
        QCOMPARE(counter.paints, 1);
        QCOMPARE(w.bar->SetPos(119), 100); // 11% but still 5 pixels
        w.bar->SetText(QString());
        w.bar->ShowText(true);
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 1);
        w.bar->SetPos(120);
        QCOMPARE(counter.paints, 2);
        w.bar->SetText(QStringLiteral("Flash"));
        QTRY_COMPARE(counter.paints, 3);
    }

    void StepsStopAtTheLargestPositionAndAnEmptyRangeShowsOnlyTheBackground()
    {
        BarWindow w;
        w.bar->SetRange(0, INT_MAX);
        QCOMPARE(w.bar->SetStep(INT_MAX / 2 + 1), 1);
        w.bar->StepIt();
        QCOMPARE(w.bar->StepIt(), INT_MAX / 2 + 1);
        QCOMPARE(w.bar->GetPos(), INT_MAX);
        QCOMPARE(CountPixels(w.Picture(), w.bar->rect(), kGrey), 0);
        for (const auto& [lower, upper] : {std::pair{5, 5}, std::pair{10, 0}}) {
            w.bar->SetRange(lower, upper);
            w.bar->SetPos(5);
            QCOMPARE(CountPixels(w.Picture(), w.bar->rect(), kGrey), 300 * 40);
        }
    }
};

QTEST_MAIN(TextProgressCtrlTest)
#include "text_progress_ctrl_test.moc"
