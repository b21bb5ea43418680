#include "pages/c_ps_page.h"

#include "pages/c_ps_loader.h"

namespace kestrum {

CPSPage::CPSPage(CPSLoader& sheet, const QString& title) : sheet_(sheet), title_(title), units_(sheet.font()) {}

CKestrumApp& CPSPage::App() const
{
    return sheet_.App();
}

void CPSPage::EnsureInitialised()
{
    if (initialised_)
        return;
    initialised_ = true;
    OnInitDialog();
    // Controls made while the page is already on screen stay hidden unless shown.
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!control->testAttribute(Qt::WA_WState_ExplicitShowHide))
            control->show();
    }
}

}  // namespace kestrum
