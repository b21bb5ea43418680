#pragma once

#include <array>

#include "link/port_settings.h"
#include "pages/c_connection_selection.h"
#include "pages/c_ps_page.h"

class QComboBox;

namespace kestrum {

// The Connection page: connection type, PC port and line settings. Everything that
// opens the line asks it for the current settings (GetPortSettings). It stores the
// settings when it is destroyed, if "Save Settings on Exit" is on.
class CPSConnection : public CPSPage {
    Q_OBJECT

public:
    explicit CPSConnection(CPSLoader& sheet);
    ~CPSConnection() override;

    void LoadPortSettings();
    void GetPortSettings(PortSettings& settings) const;
    std::string GetConnectionInfoText() const { return selection_.ConnectionInfoText(); }
    // Disables or enables every list, while another page works on the line.
    void EnableControls(bool enable);

    const CConnectionSelection& Selection() const { return selection_; }

protected:
    void OnInitDialog() override;

private:
    void BuildControls();
    QComboBox* AddList(CConnectionSelection::List list, const char* name, const char* label, int x, int y,
                       int labelWidth, int listWidth);
    void DescribePorts(QComboBox* box);
    void ShowSelection();

    CConnectionSelection selection_;
    std::array<QComboBox*, CConnectionSelection::kListCount> lists_{};
};

}  // namespace kestrum
