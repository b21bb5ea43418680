#pragma once

#include <QBasicTimer>
#include <QWidget>

#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrum {

class CKestrumApp;
class CPSLoader;

// The main window's form: 290 by 143 dialog units holding the property sheet. After
// start-up it refreshes the Device page and, when the command line had arguments, runs
// the automatic load of -a: two seconds' pause, the Program page to the front, two more
// seconds, then "&Load" as if pressed (once a device query under way has ended). It says
// on stderr which command-line values the pages ignored.
class CKestrumView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kFormWidth = 290;   // dialog units
    static constexpr int kFormHeight = 143;
    static constexpr int kStartupTimerMs = 300;
    static constexpr int kAutoLoadPauseMs = 2000;

    CKestrumView(CKestrumApp& app, int32_t mainStatus, QWidget* parent);

    // The sheet; null when it could not be made.
    CPSLoader* Sheet() const { return sheet_; }

    // The loader's notifications for the Program page; nothing without a sheet.
    void RelayLoaderStage(int stage, int flag);
    void RelayCapturePrompt(bool show, int countdownMs);
    // Asks the Device and Program pages to stop; true when both are idle.
    bool CanClose();
    // Where the notes about the command line go (stderr); tests catch them.
    void SetNoticeStream(std::FILE* stream) { notices_ = stream; }

protected:
    void showEvent(QShowEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    void OnStartupTimer();
    void OnAutoLoad();
    void BringProgramPageForward();
    void StartAutomaticLoad();
    void ReportIgnoredOptions();
    void Notice(const std::string& text);

    CKestrumApp& app_;
    CPSLoader* sheet_ = nullptr;
    QBasicTimer startupTimer_;
    bool startupDone_ = false;
    std::FILE* notices_ = stderr;
};

}  // namespace kestrum
