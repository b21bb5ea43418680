#pragma once

#include <QPixmap>
#include <QWidget>

namespace kestrum {

// A 16 by 16 status lamp: one cell of the lamp strip (round or square lamps in red, green,
// yellow and blue; bright, dark or grey), drawn centred, magenta transparent.
class CLampCtrl : public QWidget {
    Q_OBJECT

public:
    enum class Colour { Red = 0, Green = 1, Yellow = 2, Blue = 3 };
    enum class Shade { Bright = 0, Dark = 1, Grey = 2 };
    static constexpr int kCellSize = 16;

    explicit CLampCtrl(QWidget* parent = nullptr);

    // Shows the round lamp of a colour and shade; redraws at once when it changes.
    void SetCell(Colour colour, Shade shade);
    Colour CurrentColour() const { return colour_; }
    Shade CurrentShade() const { return shade_; }

    QSize sizeHint() const override { return {kCellSize, kCellSize}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static QPixmap Cell(Colour colour, Shade shade);

    Colour colour_ = Colour::Blue;
    Shade shade_ = Shade::Grey;
    QPixmap cell_;
};

}  // namespace kestrum
