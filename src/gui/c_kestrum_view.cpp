#include "gui/c_kestrum_view.h"

#include <QCoreApplication>
#include <QTimer>
#include <QTimerEvent>

#include "app/c_kestrum_app.h"
#include "gui/c_dialog_units.h"
#include "gui/c_private_message_event.h"
#include "pages/c_ps_device.h"
#include "pages/c_ps_loader.h"
#include "pages/c_ps_program.h"
#include "platform/message_pump.h"

namespace kestrum {

CKestrumView::CKestrumView(CKestrumApp& app, int32_t mainStatus, QWidget* parent) : QWidget(parent), app_(app)
{
    const CDialogUnits units(font());
    setFixedSize(units.Size(kFormWidth, kFormHeight));
    sheet_ = new CPSLoader(app_, mainStatus, this);
    sheet_->setGeometry(0, 0, width(), height());
}

void CKestrumView::RelayLoaderStage(int stage, int flag)
{
    if (sheet_ != nullptr)
        sheet_->Program().OnLoaderStage(stage, flag != 0);
}

void CKestrumView::RelayCapturePrompt(bool show, int countdownMs)
{
    if (sheet_ != nullptr)
        sheet_->Program().OnCapturePrompt(show, countdownMs);
}

// Asking is the stop request: a busy page signals its cancel at once.
bool CKestrumView::CanClose()
{
    if (sheet_ == nullptr)
        return true;
    const bool queryIdle = sheet_->Device().StopQuery();
    const bool loadIdle = sheet_->Program().StopLoad();
    return queryIdle && loadIdle;
}

void CKestrumView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!startupDone_ && !startupTimer_.isActive())
        startupTimer_.start(kStartupTimerMs, this);
}

void CKestrumView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != startupTimer_.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    OnStartupTimer();
}

// Once only, whatever later showings of the view do.
void CKestrumView::OnStartupTimer()
{
    startupTimer_.stop();
    startupDone_ = true;
    if (sheet_ != nullptr)
        sheet_->Device().RefreshInfoText();
    if (app_.Options().hasArguments)
        QCoreApplication::postEvent(this, new CPrivateMessageEvent(WM_AUTO_LOAD, 0, 0));
}

void CKestrumView::customEvent(QEvent* event)
{
    if (event->type() == CPrivateMessageEvent::TypeOf(WM_AUTO_LOAD)) {
        OnAutoLoad();
        return;
    }
    QWidget::customEvent(event);
}

// The pauses run on timers, so the window stays responsive; the load still starts about
// four seconds after the view first appeared.
void CKestrumView::OnAutoLoad()
{
    QTimer::singleShot(kAutoLoadPauseMs, this, [this] {
        if (!app_.Options().autoLoad || sheet_ == nullptr)
            return;
        BringProgramPageForward();
        QTimer::singleShot(kAutoLoadPauseMs, this, [this] { sheet_->Program().OnLoad(); });
    });
}

void CKestrumView::BringProgramPageForward()
{
    sheet_->SetActivePage(CPSLoader::kProgramPage);
    sheet_->repaint();
    repaint();
}

}  // namespace kestrum
