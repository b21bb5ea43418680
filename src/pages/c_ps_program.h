#pragma once

#include "pages/c_ps_page.h"

namespace kestrum {

// The Program page: starts and follows a load of the chosen device.
class CPSProgram : public CPSPage {
    Q_OBJECT

public:
    explicit CPSProgram(CPSLoader& sheet);

    // "&Load": starts a load (also the automatic load of -a).
    void OnLoad();
    // Asks a running load to stop; true when no load runs.
    bool StopLoad();
    // The loader's notifications, relayed by the main window.
    void OnLoaderStage(int stage, bool on);
    void OnCapturePrompt(bool show, int countdownMs);

Q_SIGNALS:
    void LoadStarting();

protected:
    void OnInitDialog() override;
};

}  // namespace kestrum
