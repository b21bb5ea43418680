#pragma once

#include <QString>
#include <QWidget>

#include "widgets/c_dialog_units.h"

namespace kestrum {

class CPSLoader;
class CKestrumApp;

// A page of the property sheet. Its controls are initialised the first time the sheet
// makes it active, which the sheet does for every page when it is first shown, so a page
// may use another page's controls before the user has ever opened that page.
class CPSPage : public QWidget {
    Q_OBJECT

public:
    CPSPage(CPSLoader& sheet, const QString& title);

    const QString& Title() const { return title_; }
    void EnsureInitialised();
    bool Initialised() const { return initialised_; }

protected:
    virtual void OnInitDialog() = 0;

    CPSLoader& Sheet() const { return sheet_; }
    CKestrumApp& App() const;
    const CDialogUnits& Units() const { return units_; }

private:
    CPSLoader& sheet_;
    const QString title_;
    const CDialogUnits units_;
    bool initialised_ = false;
};

}  // namespace kestrum
