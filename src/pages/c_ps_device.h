#pragma once

#include "pages/c_ps_page.h"

namespace kestrum {

// The Device page: the device kind the program works with and the device information.
class CPSDevice : public CPSPage {
    Q_OBJECT

public:
    explicit CPSDevice(CPSLoader& sheet);

    // Refreshes the text of the information box (the view asks once after start-up).
    void RefreshInfoText();
    // Asks a running query to stop; true when no query runs.
    bool StopQuery();

protected:
    void OnInitDialog() override;
};

}  // namespace kestrum
