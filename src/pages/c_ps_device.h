#pragma once

#include <memory>
#include <string>

#include "pages/c_ps_page.h"
#include "platform/c_event.h"
#include "protocol/c_device_info_query.h"

class QComboBox;
class QPlainTextEdit;
class QPushButton;

namespace kestrum {

// The Device page: the device kind the whole program works with (the Program page reads
// it here), the device query behind "&Get from Device" with its information box, and the
// device-information file behind "&Save to file". A query runs on this thread; its waits
// keep the window alive, so "&Cancel" works meanwhile.
class CPSDevice : public CPSPage {
    Q_OBJECT

public:
    static constexpr const char* kSection = "DeviceSettings";

    explicit CPSDevice(CPSLoader& sheet);
    ~CPSDevice() override;

    // Queries of this page wait this long; the program uses the defaults, tests shorten them.
    void SetTiming(const ProtocolTiming& timing);

    // 0 receiver, 1 receiver's power board, 2 VDK-1.
    int GetDeviceKind() const { return kind_; }
    // The information box shows the kind's labels, and the main window's title the kind.
    void SetKindLabels();
    // Refreshes the information box (the view asks once after start-up).
    void RefreshInfoText() { SetKindLabels(); }
    // Asks a running query to stop; true when no query runs.
    bool StopQuery();
    // Disables or enables the whole page, "&Cancel" included, while the Program page loads.
    void EnableControls(bool enable);

    void OnGetFromDevice();
    void OnSaveToFile();
    // Writes the device-information file; a message box says why when it cannot.
    bool WriteDeviceFile(const std::string& path);
    // The device block of the file: the kind and the values of the last query.
    std::string GetDeviceInfoText() const;

    bool Busy() const { return busy_; }
    const std::string& FilePath() const { return filePath_; }
    const DeviceInfo& Info() const { return query_->Info(); }
    CStatusChannel& StatusChannel() { return query_->StatusChannel(); }

    static QString TitleFor(int kind);

Q_SIGNALS:
    // A query has ended, however it ended.
    void QueryFinished();

protected:
    void OnInitDialog() override;
    void showEvent(QShowEvent* event) override;

private:
    void MakeQuery(const ProtocolTiming& timing);
    void BuildControls();
    void OnKindChanged(int kind);
    void ShowTitle();
    void ShowText(const std::string& text);
    void EnableForQuery(bool enable);
    void EnableChoices(bool enable);

    int kind_ = 0;
    bool busy_ = false;
    std::string filePath_;
    int fileType_ = 2;
    CEvent cancel_{CEvent::ResetMode::Auto};
    std::unique_ptr<CDeviceInfoQuery> query_;
    QComboBox* kindList_ = nullptr;
    QPlainTextEdit* infoBox_ = nullptr;
    QPushButton* getButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace kestrum
