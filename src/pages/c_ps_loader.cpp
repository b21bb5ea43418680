#include "pages/c_ps_loader.h"

#include "app/program_identity.h"
#include "pages/c_ps_connection.h"
#include "pages/c_ps_device.h"
#include "pages/c_ps_program.h"
#include "widgets/c_pump_pause.h"

namespace kestrum {

CPSLoader::CPSLoader(CKestrumApp& app, int32_t mainStatus, QWidget* parent)
    : QTabWidget(parent), app_(app), mainStatus_(mainStatus)
{
    setWindowTitle(QString::fromLatin1(kProgramName));
    connection_ = new CPSConnection(*this);
    device_ = new CPSDevice(*this);
    program_ = new CPSProgram(*this);
    for (CPSPage* page : {static_cast<CPSPage*>(connection_), static_cast<CPSPage*>(device_),
                          static_cast<CPSPage*>(program_)})
        addTab(page, page->Title());
    setCurrentIndex(kConnectionPage);
}

// The pages store their settings as they go: the Program page first, the Connection page last.
CPSLoader::~CPSLoader()
{
    delete program_;
    delete device_;
    delete connection_;
}

CPSPage* CPSLoader::PageAt(int index) const
{
    return static_cast<CPSPage*>(widget(index));
}

void CPSLoader::SetActivePage(int index)
{
    if (index < 0 || index >= count())
        return;
    setCurrentIndex(index);
    PageAt(index)->EnsureInitialised();
}

void CPSLoader::ActivateEachPage()
{
    if (count() <= 1)
        return;
    const int active = currentIndex();
    for (int index = 0; index < count(); ++index)
        SetActivePage(index);
    SetActivePage(active);
}

void CPSLoader::showEvent(QShowEvent* event)
{
    QTabWidget::showEvent(event);
    const CPumpPause building;
    ActivateEachPage();
}

}  // namespace kestrum
