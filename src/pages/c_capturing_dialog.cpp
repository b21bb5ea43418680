#include "pages/c_capturing_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QTimerEvent>

#include "platform/tick_count.h"
#include "widgets/c_dialog_units.h"
#include "widgets/c_text_progress_ctrl.h"

namespace kestrum {

namespace {

// Layout in dialog units.
constexpr int kWidth = 186;
constexpr int kHeight = 78;

}  // namespace

CCapturingDialog::CCapturingDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Capturing"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    setModal(false);
    const CDialogUnits units(font());
    setFixedSize(units.Size(kWidth, kHeight));
    auto* message =
        new QLabel(QStringLiteral("Please power cycle your device now\nto allow loader to capture it."), this);
    message->setAlignment(Qt::AlignCenter);
    message->setGeometry(units.Rect(7, 7, kWidth - 14, 20));
    bar_ = new CTextProgressCtrl(this);
    bar_->setGeometry(units.Rect(7, 32, kWidth - 14, 12));
    bar_->SetRange(0, 100);
    bar_->SetBackgroundColour(QColor(190, 190, 190));
    cancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel_->setDefault(true);
    cancel_->setGeometry(units.Rect((kWidth - 50) / 2, 54, 50, 14));
    connect(cancel_, &QPushButton::clicked, this, &CCapturingDialog::OnCancel);
}

CCapturingDialog::~CCapturingDialog() = default;

void CCapturingDialog::SetCancelEvent(std::shared_ptr<CEvent> cancel, int countdownMs)
{
    cancelEvent_ = std::move(cancel);
    countdownMs_ = countdownMs > 0 ? countdownMs : kDefaultCountdownMs;
}

// move() places the frame's corner; the frame's size is the window's until it is shown.
void CCapturingDialog::PlaceOver(const QRect& area)
{
    QRect frame(QPoint(0, 0), frameGeometry().size().expandedTo(size()));
    frame.moveCenter(area.center());
    frame.moveBottom(area.bottom());
    move(frame.topLeft());
}

void CCapturingDialog::ShowRemaining(int64_t seconds)
{
    bar_->SetText(QStringLiteral("Time remaining: %1 sec").arg(seconds));
}

void CCapturingDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    bar_->ShowText(true);
    startTime_ = std::time(nullptr);
    startTick_ = GetTickCount();
    ShowRemaining(countdownMs_ / 1000);
    timer_.start(kTickMs, this);
}

// The text counts whole seconds of the wall clock; the bar fills smoothly on the tick count.
void CCapturingDialog::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != timer_.timerId()) {
        QDialog::timerEvent(event);
        return;
    }
    const int64_t remaining = countdownMs_ / 1000 - static_cast<int64_t>(std::time(nullptr) - startTime_);
    if (remaining < 0) {
        timer_.stop();
        hide();
        return;
    }
    ShowRemaining(remaining);
    const double elapsed = GetTickCount() - startTick_;
    const double filled = 100.0 - (countdownMs_ - elapsed) * 100.0 / countdownMs_;
    if (filled >= 0.0 && filled <= 100.0)
        bar_->SetPos(static_cast<int>(filled));
}

void CCapturingDialog::OnCancel()
{
    timer_.stop();
    hide();
    if (cancelEvent_)
        cancelEvent_->Set();
}

void CCapturingDialog::reject()
{
    OnCancel();
}

}  // namespace kestrum
