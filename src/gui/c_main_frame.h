#pragma once

#include <QBasicTimer>
#include <QMainWindow>

#include "link/c_status_channel.h"

class QAction;
class QLabel;
class QMenu;

namespace kestrum {

class CKestrumApp;
class CKestrumView;
class CQtMessageHooks;

// The program's one main window: fixed size, a menu, a status bar with the status text,
// the date and the time, and the property sheet in its form view. It shows the text of
// the main status channel within 100 ms, relays the loader's notifications to the
// Program page, and closes only when no query or load is running: a close hides it at
// once and then asks the pages to stop every 1500 ms until they are idle.
class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kClockTimerMs = 1000;
    static constexpr int kStatusTimerMs = 100;
    static constexpr int kCloseTimerMs = 1500;
    static constexpr int kDatePaneWidth = 62;  // pixels, at least
    static constexpr int kTimePaneWidth = 42;
    static constexpr const char* kPositionSection = "MnFrm";

    // hooks: where posted notifications are delivered; this window becomes their target.
    CMainFrame(CKestrumApp& app, CQtMessageHooks& hooks);
    ~CMainFrame() override;

    CStatusChannel& MainStatus() { return mainStatus_; }
    CKestrumView* View() const { return view_; }
    // Pane 0 the status text, 1 the date, 2 the time.
    QLabel* Pane(int index) const;
    bool ClosePending() const { return closePending_; }

    // "%d %b %Y" and "%02i:%02i.%02i" of a local time.
    static QString DateText(const struct tm& local);
    static QString TimeText(const struct tm& local);

Q_SIGNALS:
    // The window has closed for good; the program may end.
    void Closed();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void CreateMenu();
    void AddRecordItems(QMenu* options);
    QMenu* AddMenu(const QString& title);
    QAction* AddItem(QMenu* menu, const QString& text, const QString& prompt);
    void CreateStatusBar();
    void FitToForm();
    void RestorePosition();
    void StorePosition();
    void ShowStartWarning();
    void ShowStatusIfNew();
    void ShowClock();
    void BeginClose();
    bool ViewCanClose();
    void ShowAbout(bool help);

    CKestrumApp& app_;
    CQtMessageHooks& hooks_;
    CStatusChannel mainStatus_;
    CKestrumView* view_ = nullptr;
    QLabel* panes_[3] = {};
    QAction* saveSettingsItem_ = nullptr;
    QBasicTimer clockTimer_;
    QBasicTimer statusTimer_;
    QBasicTimer closeTimer_;
    bool positionApplied_ = false;
    bool closePending_ = false;
    bool closeAllowed_ = false;
};

}  // namespace kestrum
