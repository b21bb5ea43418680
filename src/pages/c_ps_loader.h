#pragma once

#include <QTabWidget>

#include <cstdint>

namespace kestrum {

class CKestrumApp;
class CPSConnection;
class CPSDevice;
class CPSProgram;
class CPSPage;

// The property sheet of the main form: the pages Connection, Device and Program, in that
// order. Each page reaches the others through it. The pages read their settings when the
// sheet builds them, in page order, and store them when it is destroyed, in reverse order.
class CPSLoader : public QTabWidget {
    Q_OBJECT

public:
    enum PageIndex { kConnectionPage = 0, kDevicePage = 1, kProgramPage = 2 };

    // mainStatus: the number of the main window's status channel, where the pages' status
    // texts end up.
    CPSLoader(CKestrumApp& app, int32_t mainStatus, QWidget* parent);
    ~CPSLoader() override;

    CKestrumApp& App() const { return app_; }
    int32_t MainStatus() const { return mainStatus_; }
    CPSConnection& Connection() const { return *connection_; }
    CPSDevice& Device() const { return *device_; }
    CPSProgram& Program() const { return *program_; }

    void SetActivePage(int index);
    // Makes every page active once, first to last, then the page that was active before.
    void ActivateEachPage();

protected:
    void showEvent(QShowEvent* event) override;

private:
    CPSPage* PageAt(int index) const;

    CKestrumApp& app_;
    const int32_t mainStatus_;
    CPSConnection* connection_;
    CPSDevice* device_;
    CPSProgram* program_;
};

}  // namespace kestrum
