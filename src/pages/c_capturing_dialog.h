#pragma once

#include <QBasicTimer>
#include <QDialog>

#include <cstdint>
#include <ctime>
#include <memory>

#include "platform/c_event.h"

class QPushButton;

namespace kestrum {

class CTextProgressCtrl;

// The modeless prompt of a power-on capture: "switch the device off and on now", with a
// countdown as text and as a filling bar, and "&Cancel", which signals the Program page's
// cancel event. It hides itself when the countdown is over; its owner destroys it.
class CCapturingDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kDefaultCountdownMs = 15000;
    static constexpr int kTickMs = 100;

    explicit CCapturingDialog(QWidget* parent = nullptr);
    ~CCapturingDialog() override;

    void SetCancelEvent(std::shared_ptr<CEvent> cancel, int countdownMs);
    // The window, frame and title bar included, centred on area with its bottom on area's.
    void PlaceOver(const QRect& area);

    CTextProgressCtrl* Bar() const { return bar_; }
    QPushButton* CancelButton() const { return cancel_; }

protected:
    void showEvent(QShowEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    // Escape (and the window's close button) cancel like "&Cancel".
    void reject() override;

private:
    void ShowRemaining(int64_t seconds);
    void OnCancel();

    CTextProgressCtrl* bar_ = nullptr;
    QPushButton* cancel_ = nullptr;
    std::shared_ptr<CEvent> cancelEvent_;
    int countdownMs_ = kDefaultCountdownMs;
    std::time_t startTime_ = 0;
    uint32_t startTick_ = 0;
    QBasicTimer timer_;
};

}  // namespace kestrum
