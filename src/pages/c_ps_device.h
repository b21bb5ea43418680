#pragma once

#include "pages/c_ps_page.h"

class QComboBox;
class QPlainTextEdit;

namespace kestrum {

// The Device page: the device kind the whole program works with (the Program page reads
// it here), and the device information.
class CPSDevice : public CPSPage {
    Q_OBJECT

public:
    static constexpr const char* kSection = "DeviceSettings";

    explicit CPSDevice(CPSLoader& sheet);
    ~CPSDevice() override;

    // 0 receiver, 1 receiver's power board, 2 VDK-1.
    int GetDeviceKind() const { return kind_; }
    // The information box shows the kind's labels, and the main window's title the kind.
    void SetKindLabels();
    // Refreshes the information box (the view asks once after start-up).
    void RefreshInfoText();
    // Asks a running query to stop; true when no query runs.
    bool StopQuery();
    // Disables or enables the page's controls, while another page works on the line.
    void EnableControls(bool enable);

    static QString TitleFor(int kind);

protected:
    void OnInitDialog() override;
    void showEvent(QShowEvent* event) override;

private:
    void OnKindChanged(int kind);
    void ShowTitle();

    int kind_ = 0;
    QComboBox* kindList_ = nullptr;
    QPlainTextEdit* infoBox_ = nullptr;
};

}  // namespace kestrum
