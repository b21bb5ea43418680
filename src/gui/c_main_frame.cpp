#include "gui/c_main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimerEvent>

#include <ctime>

#include "app/c_kestrum_app.h"
#include "app/program_identity.h"
#include "gui/c_kestrum_view.h"
#include "gui/c_qt_message_hooks.h"
#include "platform/closing_flag.h"
#include "platform/local_time.h"
#include "platform/message_pump.h"
#include "widgets/c_about_dlg.h"
#include "widgets/c_private_message_event.h"

namespace kestrum {

namespace {

// English month names whatever the desktop's language, like every other text of the program.
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr const char* kReady = "Ready";

// Wide enough for the widest text the pane can show, and never below the given width.
int PaneWidth(const QLabel& pane, const QStringList& samples, int atLeast)
{
    int widest = 0;
    for (const QString& sample : samples)
        widest = std::max(widest, pane.fontMetrics().horizontalAdvance(sample));
    return std::max(atLeast, widest + 2 * pane.frameWidth() + pane.fontMetrics().averageCharWidth());
}

QStringList DateSamples()
{
    QStringList samples;
    for (const char* month : kMonths)
        samples << QStringLiteral("00 %1 0000").arg(QString::fromLatin1(month));
    return samples;
}

}  // namespace

CMainFrame::CMainFrame(CKestrumApp& app, CQtMessageHooks& hooks) : app_(app), hooks_(hooks)
{
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    CreateMenu();
    CreateStatusBar();
    view_ = new CKestrumView(app_, mainStatus_.Number(), this);
    setCentralWidget(view_);
    FitToForm();
    hooks_.SetTarget(this);
}

CMainFrame::~CMainFrame()
{
    hooks_.SetTarget(nullptr);
    StorePosition();
}

QLabel* CMainFrame::Pane(int index) const
{
    return index >= 0 && index < 3 ? panes_[index] : nullptr;
}

QString CMainFrame::DateText(const struct tm& local)
{
    const int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
    return QStringLiteral("%1 %2 %3")
        .arg(local.tm_mday, 2, 10, QLatin1Char('0'))
        .arg(QString::fromLatin1(kMonths[month]))
        .arg(local.tm_year + 1900, 4, 10, QLatin1Char('0'));
}

QString CMainFrame::TimeText(const struct tm& local)
{
    return QStringLiteral("%1:%2.%3")
        .arg(local.tm_hour, 2, 10, QLatin1Char('0'))
        .arg(local.tm_min, 2, 10, QLatin1Char('0'))
        .arg(local.tm_sec, 2, 10, QLatin1Char('0'));
}

QMenu* CMainFrame::AddMenu(const QString& title)
{
    QMenu* menu = menuBar()->addMenu(title);
    connect(menu, &QMenu::aboutToHide, this, [this] { panes_[0]->setText(QString::fromLatin1(kReady)); });
    return menu;
}

QAction* CMainFrame::AddItem(QMenu* menu, const QString& text, const QString& prompt)
{
    QAction* item = menu->addAction(text);
    item->setStatusTip(prompt);
    return item;
}

void CMainFrame::CreateMenu()
{
    QMenu* file = AddMenu(QStringLiteral("&File"));
    connect(AddItem(file, QStringLiteral("E&xit"), QStringLiteral("Quit the application")), &QAction::triggered,
            this, &CMainFrame::close);
    QMenu* options = AddMenu(QStringLiteral("&Options"));
    saveSettingsItem_ = AddItem(options, QStringLiteral("Save Settings on Exit"),
                                QStringLiteral("Keep the settings of the pages for the next start"));
    saveSettingsItem_->setCheckable(true);
    connect(options, &QMenu::aboutToShow, this,
            [this] { saveSettingsItem_->setChecked(app_.SaveSettingsOnExit()); });
    connect(saveSettingsItem_, &QAction::triggered, this,
            [this] { app_.SetSaveSettingsOnExit(!app_.SaveSettingsOnExit()); });
    QMenu* help = AddMenu(QStringLiteral("&Help"));
    connect(AddItem(help, QStringLiteral("&About Kestrum..."),
                    QStringLiteral("Display program information, version number and build date")),
            &QAction::triggered, this, [this] { ShowAbout(false); });
    connect(AddItem(help, QStringLiteral("Command Line Options..."), QStringLiteral("Display command line options")),
            &QAction::triggered, this, [this] { ShowAbout(true); });
}

void CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(false);
    for (QLabel*& pane : panes_) {
        pane = new QLabel(bar);
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    }
    panes_[0]->setText(QString::fromLatin1(kReady));
    panes_[1]->setAlignment(Qt::AlignCenter);
    panes_[2]->setAlignment(Qt::AlignCenter);
    panes_[1]->setMinimumWidth(PaneWidth(*panes_[1], DateSamples(), kDatePaneWidth));
    panes_[2]->setMinimumWidth(PaneWidth(*panes_[2], {QStringLiteral("00:00.00")}, kTimePaneWidth));
    bar->addWidget(panes_[0], 1);
    bar->addPermanentWidget(panes_[1]);
    bar->addPermanentWidget(panes_[2]);
}

// The window is exactly as large as menu, form and status bar need, and cannot be resized.
void CMainFrame::FitToForm()
{
    adjustSize();
    setFixedSize(sizeHint());
}

bool CMainFrame::event(QEvent* event)
{
    if (event->type() == QEvent::StatusTip) {
        const QString prompt = static_cast<QStatusTipEvent*>(event)->tip();
        if (!prompt.isEmpty())
            panes_[0]->setText(prompt);
        return true;
    }
    if (event->type() == CPrivateMessageEvent::TypeOf(WM_LOADER_STAGE)) {
        const auto* message = static_cast<CPrivateMessageEvent*>(event);
        view_->RelayLoaderStage(static_cast<int>(message->WParam()), static_cast<int>(message->LParam()));
        return true;
    }
    if (event->type() == CPrivateMessageEvent::TypeOf(WM_CAPTURE_PROMPT)) {
        const auto* message = static_cast<CPrivateMessageEvent*>(event);
        view_->RelayCapturePrompt(message->WParam() != 0, static_cast<int>(message->LParam()));
        return true;
    }
    return QMainWindow::event(event);
}

void CMainFrame::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (closePending_)
        return;
    clockTimer_.start(kClockTimerMs, this);
    statusTimer_.start(kStatusTimerMs, this);
    ShowClock();
    if (!positionApplied_) {
        RestorePosition();
        ShowStartWarning();
    }
}

// Said once, after the pages have set their first texts: the settings file found at start
// is read-only or unreadable. It shows at the status timer's first tick.
void CMainFrame::ShowStartWarning()
{
    if (app_.StartWarning().empty())
        return;
    mainStatus_.SetStatus(app_.StartWarning(), true);
    mainStatus_.Event().Set();
}

// A position of 0 on either axis means none was stored. One outside every screen (a
// monitor that is gone) would put the window out of reach, so it is not applied either.
void CMainFrame::RestorePosition()
{
    positionApplied_ = true;
    const int left = app_.Settings().GetInt(kPositionSection, "PosLeft", 0);
    const int top = app_.Settings().GetInt(kPositionSection, "PosTop", 0);
    if (left != 0 && top != 0 && QGuiApplication::screenAt(QPoint(left, top)) != nullptr)
        move(left, top);
}

void CMainFrame::StorePosition()
{
    app_.Settings().WriteInt(kPositionSection, "PosLeft", pos().x());
    app_.Settings().WriteInt(kPositionSection, "PosTop", pos().y());
}

void CMainFrame::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == statusTimer_.timerId()) {
        ShowStatusIfNew();
    } else if (event->timerId() == clockTimer_.timerId()) {
        ShowClock();
        ShowStatusIfNew();
    } else if (event->timerId() == closeTimer_.timerId()) {
        if (ViewCanClose()) {
            closeTimer_.stop();
            closeAllowed_ = true;
            close();
        }
    } else {
        QMainWindow::timerEvent(event);
    }
}

void CMainFrame::ShowStatusIfNew()
{
    if (!mainStatus_.Event().Test())
        return;
    panes_[0]->setText(QString::fromStdString(mainStatus_.Text()));
    panes_[0]->repaint();
}

void CMainFrame::ShowClock()
{
    const std::tm local = LocalTimeOf(std::time(nullptr));
    panes_[1]->setText(DateText(local));
    panes_[2]->setText(TimeText(local));
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (closeAllowed_) {
        event->accept();
        Q_EMIT Closed();
        return;
    }
    if (closePending_) {
        event->ignore();
        return;
    }
    BeginClose();
    if (ViewCanClose()) {
        closeAllowed_ = true;
        event->accept();
        Q_EMIT Closed();
        return;
    }
    event->ignore();
    closeTimer_.start(kCloseTimerMs, this);
}

// The window goes at once; the work still running is asked to stop, and the connection
// search and the capture give up as if cancelled.
void CMainFrame::BeginClose()
{
    closePending_ = true;
    ClosingFlag::Set();
    hide();
    clockTimer_.stop();
    statusTimer_.stop();
}

bool CMainFrame::ViewCanClose()
{
    return view_ == nullptr || view_->CanClose();
}

void CMainFrame::ShowAbout(bool help)
{
    CAboutDlg dialog(help ? CAboutDlg::Mode::Help : CAboutDlg::Mode::About, false, this);
    dialog.exec();
}

}  // namespace kestrum
