#include "pages/c_ps_device.h"

namespace kestrum {

CPSDevice::CPSDevice(CPSLoader& sheet) : CPSPage(sheet, QStringLiteral("Device")) {}

void CPSDevice::RefreshInfoText() {}

bool CPSDevice::StopQuery()
{
    return true;
}

void CPSDevice::OnInitDialog() {}

}  // namespace kestrum
