#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace kestrum {

// A progress bar that writes a centred text across itself: the percentage, or a text of
// its owner. The text is drawn twice, clipped to each side of the bar's edge, in the
// colour of the other side, so it stays readable wherever the edge is. A new position
// is drawn at once, but only when the filled part's width in pixels changes, so a load
// stepping thousands of times repaints at most once per pixel.
class CTextProgressCtrl : public QWidget {
    Q_OBJECT

public:
    explicit CTextProgressCtrl(QWidget* parent = nullptr);

    void SetRange(int lower, int upper);
    // Returns the previous position.
    int SetPos(int position);
    int GetPos() const { return position_; }
    // Returns the previous step.
    int SetStep(int step);
    int StepIt();
    void SetBackgroundColour(const QColor& colour);
    void ShowText(bool show);
    // The owner's text, shown instead of the percentage while it is not empty.
    void SetText(const QString& text);
    QString GetText() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool HasRange() const { return lower_ < upper_; }
    // The filled share of the bar, 0 to 1; meaningful only with a range.
    double Fraction() const;
    int FilledWidth() const;
    QString ShownText() const;

    int position_ = 0;
    int step_ = 1;
    int lower_ = 0;
    int upper_ = 100;
    QString text_;
    bool showText_ = true;
    int drawnWidth_ = -1;
    QColor barColour_;
    QColor backgroundColour_;
    QColor textOnBackgroundColour_;
    QColor textOnBarColour_;
};

} // namespace kestrum
