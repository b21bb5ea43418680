#include "gui/c_kestrum_view.h"

#include <QCoreApplication>
#include <QTimer>
#include <QTimerEvent>

#include "app/c_kestrum_app.h"
#include "app/ignored_options.h"
#include "app/port_list.h"
#include "pages/c_ps_connection.h"
#include "pages/c_ps_device.h"
#include "pages/c_ps_loader.h"
#include "pages/c_ps_program.h"
#include "platform/closing_flag.h"
#include "platform/message_pump.h"
#include "widgets/c_dialog_units.h"
#include "widgets/c_private_message_event.h"

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
    if (sheet_ != nullptr) {
        sheet_->Device().RefreshInfoText();
        ReportIgnoredOptions();
    }
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
        QTimer::singleShot(kAutoLoadPauseMs, this, &CKestrumView::StartAutomaticLoad);
    });
}

// Only on the port the command line named: when the list does not offer it, the page shows
// another port, and a load there could write to whatever device is attached to it. A query
// on the line is awaited, and a window closing meanwhile starts nothing.
void CKestrumView::StartAutomaticLoad()
{
    if (ClosingFlag::IsSet())
        return;
    if (const std::string& unoffered = sheet_->Connection().Selection().UnofferedPort(); !unoffered.empty()) {
        const std::string refusal = UnavailablePortText(unoffered);
        sheet_->Program().StatusChannel().SetStatus(refusal);
        Notice(refusal);
        return;
    }
    if (sheet_->Device().Busy()) {
        connect(&sheet_->Device(), &CPSDevice::QueryFinished, this, &CKestrumView::StartAutomaticLoad,
                static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
        return;
    }
    sheet_->Program().OnLoad();
}

void CKestrumView::ReportIgnoredOptions()
{
    const CConnectionSelection& connection = sheet_->Connection().Selection();
    OptionsInUse used;
    used.unofferedPort = connection.UnofferedPort();
    used.port = connection.SelectedText(CConnectionSelection::kPort);
    used.speed = connection.SelectedText(CConnectionSelection::kRate);
    const int handshaking = connection.Selected(CConnectionSelection::kHandshaking);
    used.handshaking =
        handshaking == CConnectionSelection::kNone ? connection.Stored().handshaking : handshaking;
    used.deviceKind = sheet_->Device().GetDeviceKind();
    used.captureMethod = sheet_->Program().Settings().CaptureMethod(used.deviceKind);
    for (const std::string& note : IgnoredOptionNotes(app_.Options(), used))
        Notice(note);
}

void CKestrumView::Notice(const std::string& text)
{
    std::fprintf(notices_, "kestrum: %s\n", text.c_str());
    std::fflush(notices_);
}

void CKestrumView::BringProgramPageForward()
{
    sheet_->SetActivePage(CPSLoader::kProgramPage);
    sheet_->repaint();
    repaint();
}

}  // namespace kestrum
