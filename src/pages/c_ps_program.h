#pragma once

#include <QBasicTimer>

#include <array>
#include <memory>
#include <string>

#include "app/c_load_recorder.h"
#include "app/program_identity.h"
#include "link/c_status_channel.h"
#include "loader/c_load_session.h"
#include "pages/c_display_unit_load_flow.h"
#include "pages/c_program_settings.h"
#include "pages/c_ps_page.h"
#include "pages/c_receiver_load_flow.h"
#include "protocol/protocol_timing.h"
#include "vdk/vdk_waits.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace kestrum {

class CCapturingDialog;
class CLampCtrl;
class CPathComboBox;
class CTextProgressCtrl;

// The Program page: the capture method and the image files of the chosen device kind,
// "&Load" and "&Cancel", two lamps and a progress bar. The page shows and drives two
// flows that hold the rules of a run: a receiver or power-board load (CReceiverLoadFlow)
// runs on the loader's worker thread, which the page polls every 500 ms; a VDK-1
// (CDisplayUnitLoadFlow) is programmed on this thread, with the window kept alive by the
// run's message pumping.
class CPSProgram : public CPSPage {
    Q_OBJECT

public:
    static constexpr int kPollTimerMs = 500;
    static constexpr int kProgressTimerMs = 100;
    static constexpr int kSoftBreakRetries = CReceiverLoadFlow::kSoftBreakRetries;

    // The waits of the loads this page starts; the program uses the defaults, tests
    // shorten them.
    struct Timings {
        LoadTiming load;
        ProtocolTiming protocol;
        VdkWaits displayUnit;
    };

    explicit CPSProgram(CPSLoader& sheet);
    ~CPSProgram() override;

    void SetTimings(const Timings& timings) { timings_ = timings; }

    // "&Load" (also the automatic load of -a).
    void OnLoad();
    // Asks a running load to stop; true when no load runs. Never ends a thread by force:
    // the run ends by itself within moments of the request, and the caller asks again.
    bool StopLoad();
    bool IsLoadReady() const;
    void EnableControls(bool enable);
    // While the Device page queries the device: "&Cancel" follows enable, "&Load" also
    // needs the page to be ready.
    void EnableLoadAndCancel(bool enable);
    // The loader's notifications, relayed by the main window.
    void SetLamp(int type, bool flag);
    void ShowCapturingDialog(bool show, int countdownMs);
    void OnLoaderStage(int stage, bool on) { SetLamp(stage, on); }
    void OnCapturePrompt(bool show, int countdownMs) { ShowCapturingDialog(show, countdownMs); }
    void RefreshForKind();
    // The program block of the device-information file.
    std::string GetProgramInfoText() const;

    // No run is active (the request's done flag).
    bool Done() const;
    CStatusChannel& StatusChannel() { return status_; }
    const CProgramSettings& Settings() const { return settings_; }
    // The Options menu's choice of a production record file (empty: none).
    void SetRecordFile(const std::string& path) { settings_.SetRecordFile(path); }
    CCapturingDialog* CapturingDialog() const { return capturing_.get(); }

Q_SIGNALS:
    // A run has started (the worker is under way, or a VDK-1 run begins).
    void LoadStarted();
    // A run has ended with this loader result code (0 completed).
    void LoadFinished(int result);

protected:
    void OnInitDialog() override;
    void showEvent(QShowEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    enum Slot { kRamSlot = 0, kFlashSlot = 1, kPowerSlot = 2, kVdkSlot = 3 };

    int Kind() const;
    void BuildControls();
    void ShowControlsForKind(int kind);
    void FillPathCombo(int history);
    void AddToHistory(int history, const std::string& path, bool moveToFront);
    void SelectEntry(int history, int index);
    void ApplyCommandLine();
    void FillCaptureList();
    void SelectCaptureMethod();
    bool LoadAllowed() const;
    void UpdateLoadButton();
    void EnableOtherPages(bool enable);
    void GreyLamps();

    void LoadReceiver();
    void LoadPowerBoard();
    void LoadDisplayUnit();
    void RememberFile(int history, const std::string& path);
    void BeginRun();
    void OnStartLoad();
    LoadSetup MakeSetup();
    void OnPollTimer();
    void FinishLoad(int result);
    void CloseIfExitAfterLoad(int result);
    bool BeginRecord(int kind);
    void EndRunNotStarted();
    void FinishRecord(int result, std::vector<ImageDigest> images);
    void OnRamSelected(int index);
    void OnFlashSelected(int index);
    void OnBrowse(bool ramButton);
    void OnCancel();

    CProgramSettings settings_;
    CLoadRecorder recorder_{std::string("kestrum ") + kVersionText};
    Timings timings_;
    std::array<int, 4> selected_{};
    int lastKindShown_ = -1;
    std::shared_ptr<CEvent> cancel_;
    CStatusChannel status_;
    CReceiverLoadFlow receiverFlow_;
    CDisplayUnitLoadFlow displayUnitFlow_;
    CaptureArea captureArea_;
    QBasicTimer pollTimer_;
    QBasicTimer progressTimer_;
    std::unique_ptr<CCapturingDialog> capturing_;

    QComboBox* captureList_ = nullptr;
    QGroupBox* firmware_ = nullptr;
    QLabel* ramLabel_ = nullptr;
    QLabel* flashLabel_ = nullptr;
    CPathComboBox* ramBox_ = nullptr;
    CPathComboBox* flashBox_ = nullptr;
    QPushButton* browseRam_ = nullptr;
    QPushButton* browseFlash_ = nullptr;
    QPushButton* load_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    CTextProgressCtrl* progress_ = nullptr;
    CLampCtrl* ramLamp_ = nullptr;
    CLampCtrl* flashLamp_ = nullptr;
};

}  // namespace kestrum
